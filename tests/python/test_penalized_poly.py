"""penalized_poly against a NumPy transcription of Mazet et al. (2005) and against the reference library."""
import numpy as np
import pytest

import quorvel
from polynomial_reference import fluorescent, penalized_poly

COSTS = ["asymmetric_truncated_quadratic", "symmetric_truncated_quadratic", "asymmetric_huber", "asymmetric_indec",
         "symmetric_indec", "symmetric_huber"]


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("cost_function", COSTS)
@pytest.mark.parametrize("params", [{}, dict(threshold=2.0), dict(alpha_factor=0.5, poly_order=4)])
def test_penalized_poly_follows_the_paper(cost_function, params, n):
    x, y = fluorescent(n)
    fit = quorvel.fit(y, "penalized_poly", x=x, cost_function=cost_function, **params)
    expected, iterations = penalized_poly(x, y, cost_function=cost_function, **params)
    assert fit.iterations == iterations
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-10 * np.ptp(y)


@pytest.mark.parametrize("cost_function", COSTS[:-1])
def test_penalized_poly_agrees_with_the_reference_library(cost_function):
    # Its symmetric Huber cost is not the paper's (it can run 250 iterations where the paper's takes 3).
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(3000)
    fit = quorvel.fit(y, "penalized_poly", x=x, cost_function=cost_function)
    reference, info = pybaselines.Baseline(x).penalized_poly(y, cost_function=cost_function)
    assert fit.iterations == len(info["tol_history"])
    assert np.max(np.abs(fit.baseline - reference)) <= 1e-10 * np.ptp(y)
