"""goldindec against a NumPy transcription of Liu et al. (2015) and against the reference library."""
import numpy as np
import pytest

import quorvel
from polynomial_reference import basis, fluorescent, half_quadratic


def goldindec(x, y, poly_order=2, tol=1e-3, max_iter=250, cost_function="asymmetric_indec", peak_ratio=0.5,
              alpha_factor=0.99, tol_2=1e-3, tol_3=1e-6, max_iter_2=100):
    """The threshold by golden section until the up-down ratio meets the paper's fit to the peak ratio.
    Returns (baseline, inner iterations, thresholds tried)."""
    v = basis(x, poly_order)
    fit = np.linalg.pinv(v)
    start = v @ (fit @ y)
    target = 0.7679 + 11.2358 * peak_ratio - 39.7064 * peak_ratio**2 + 92.3583 * peak_ratio**3
    low, high = 0.0, np.max(y - start)
    threshold, total = low + 0.618 * (high - low), 0
    for tried in range(1, max_iter_2 + 1):
        baseline, iterations = half_quadratic(v, fit, y, start, threshold, tol, max_iter, cost_function, alpha_factor)
        total += iterations
        miss = np.count_nonzero(y > baseline) / np.count_nonzero(y < baseline) - target
        if abs(miss) < tol_2:
            break
        if miss < 0:
            high = threshold
        else:
            low = threshold
        previous, threshold = threshold, low + 0.618 * (high - low)
        if abs(threshold - previous) / previous < tol_3:
            break
    return baseline, total, tried


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("params", [{}, dict(cost_function="asymmetric_huber", peak_ratio=0.2),
                                    dict(cost_function="asymmetric_truncated_quadratic", poly_order=4, tol_3=1e-3)])
def test_goldindec_follows_the_paper(params, n):
    x, y = fluorescent(n)
    fit = quorvel.fit(y, "goldindec", x=x, **params)
    expected, iterations, thresholds = goldindec(x, y, **params)
    assert (fit.iterations, fit.outer_iterations) == (iterations, thresholds)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-10 * np.ptp(y)


@pytest.mark.parametrize("seed, params", [(0, {}), (1, dict(peak_ratio=0.3, max_iter_2=40)),
                                          (2, dict(cost_function="asymmetric_huber", poly_order=3))])
def test_goldindec_agrees_with_the_reference_library(seed, params):
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(2000, seed)
    fit = quorvel.fit(y, "goldindec", x=x, **params)
    reference, info = pybaselines.Baseline(x).goldindec(y, **params)
    fits = info["tol_history"][2:]
    assert (fit.iterations, fit.outer_iterations) == (np.count_nonzero(fits), len(fits))
    assert np.max(np.abs(fit.baseline - reference)) <= 1e-7 * np.ptp(y)


def test_masked_samples_leave_the_fits_and_the_counts():
    x, y = fluorescent(3000)
    keep = np.ones(y.size, bool)
    keep[500:900] = keep[2000:2100] = False
    masked = quorvel.fit(y, "goldindec", x=x, mask=keep)
    alone = quorvel.fit(y[keep], "goldindec", x=x[keep])
    assert (masked.iterations, masked.outer_iterations) == (alone.iterations, alone.outer_iterations)
    assert np.max(np.abs(masked.baseline[keep] - alone.baseline)) <= 1e-9 * np.ptp(y)


def test_a_search_cut_short_warns_of_its_own_caps():
    x, y = fluorescent(1000)
    with pytest.warns(quorvel.ConvergenceWarning, match="threshold search stopped at max_iter_2=2 without"):
        fit = quorvel.fit(y, "goldindec", x=x, max_iter_2=2)
    assert (fit.outer_iterations, fit.converged) == (2, False)
