"""quant_reg against a NumPy transcription of Komsta (2011) and against the reference library."""
import numpy as np
import pytest

import quorvel
from polynomial_reference import fluorescent, quant_reg


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("params", [dict(eps=1.0), dict(quantile=0.3, poly_order=3, eps=10.0)])
def test_quant_reg_follows_the_paper_and_the_reference_library(params, n):
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(n)
    fit = quorvel.fit(y, "quant_reg", x=x, **params)
    expected, iterations = quant_reg(x, y, **params)
    reference, info = pybaselines.Baseline(x).quant_reg(y, **params)
    assert fit.iterations == iterations == len(info["tol_history"])
    for curve in (expected, reference):
        assert np.max(np.abs(fit.baseline - curve)) <= 1e-10 * np.ptp(y)


def check_loss(y, baseline, quantile):
    r = y - baseline
    return np.sum(np.where(r > 0, quantile * r, (quantile - 1.0) * r))


@pytest.mark.parametrize("n", [2000, 10_000])
def test_the_default_eps_reaches_as_good_a_quantile_fit(n):
    # With eps a millionth of the fit, squared, the reweighting is nearly singular where residuals vanish: rounding
    # steers the path and the stop, so iteration counts and curves (by up to 1e-3 of the range) differ from the
    # reference library's; the quantile's loss, which the method minimises, does not.
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(n)
    reference, _ = pybaselines.Baseline(x).quant_reg(y)
    ours = quorvel.baseline(y, "quant_reg", x=x)
    assert check_loss(y, ours, 0.05) <= check_loss(y, reference, 0.05) * (1.0 + 1e-6)
    below = np.mean(y < quorvel.baseline(y, "quant_reg", x=x, quantile=0.2, eps=1.0))
    assert 0.15 <= below <= 0.25


def test_data_of_zeros_give_a_baseline_of_zeros():
    # The default eps scales with the fit: zero here, which would weight every sample by 1 / 0.
    assert np.array_equal(quorvel.baseline(np.zeros(50), "quant_reg"), np.zeros(50))
