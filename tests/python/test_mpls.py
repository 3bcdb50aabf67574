"""mpls against a NumPy transcription of Li et al., Analyst 138 (2013) 4483, and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import make_spectrum, opening, spectrum


def mpls(y, half, lam=1e6, p=0.0, diff_order=2):
    """The lowest sample of every flat stretch of the opening (none from the stretches at the ends) weighted
    1 - p, the rest p, then (W + lam D'D) z = W y."""
    o = opening(y, (half,))
    cuts = np.r_[0, np.flatnonzero(np.diff(o)) + 1, y.size]
    w = np.full(y.size, p)
    for start, stop in zip(cuts[1:-2], cuts[2:-1]):
        if stop - start > 1:
            w[start + np.argmin(y[start:stop])] = 1.0 - p
    d = np.diff(np.eye(y.size), diff_order, axis=0)
    return np.linalg.solve(np.diag(w) + lam * d.T @ d, w * y), w


@pytest.mark.parametrize("y, half, params", [
    (make_spectrum(300), 15, {}), (make_spectrum(300), 4, dict(p=0.05, diff_order=1, lam=1e3)),
    (np.round(3 * spectrum(400, 2)), 9, dict(p=0.5)), (spectrum(200, 5), 6, dict(diff_order=3, lam=1e4))])
def test_mpls_follows_its_publication(y, half, params):
    expected, weights = mpls(y, half, **params)
    fit = quorvel.fit(y, "mpls", half_window=half, **params)
    assert np.array_equal(fit.weights, weights)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)


@pytest.mark.parametrize("y, half, params", [(spectrum(1000, 1), None, {}), (spectrum(1000, 2), 10, dict(p=0.1)),
                                             (spectrum(10_000, 3), None, {}), (spectrum(10_000, 4), 40, dict(lam=1e4))])
def test_mpls_agrees_with_the_reference_library(y, half, params):
    pybaselines = pytest.importorskip("pybaselines")
    expected, given = pybaselines.Baseline().mpls(y, half_window=half, **params)
    fit = quorvel.fit(y, "mpls", half_window=half, **params)
    assert fit.params["half_window"] == given["half_window"] and np.array_equal(fit.weights, given["weights"])
    # With p = 0 only the anchors hold the smooth: two correct solvers part by about 1e-9 of the range.
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-8 * np.ptp(y)


def test_too_few_anchors_with_p_zero_is_an_error_not_a_baseline():
    # A monotone signal opens to itself: no flat stretch, no anchor; the reference library returns NaN.
    y = np.linspace(0.0, 1.0, 100) ** 2
    with pytest.raises(ValueError, match="invalid parameter p: 0 leaves the baseline undetermined"):
        quorvel.baseline(y, "mpls", half_window=5)
    assert np.allclose(quorvel.baseline(y, "mpls", half_window=5, p=1e-3, lam=1.0), y, atol=0.05)


UNEVEN = np.cumsum(np.random.default_rng(5).uniform(0.3, 1.7, 500))


@pytest.mark.parametrize("params", [
    {}, dict(p=0.05, diff_order=1, num_knots=40), dict(x=UNEVEN, spline_degree=2, diff_order=3, lam=10.0),
    dict(x=UNEVEN[::-1], mask=np.arange(500) % 9 != 4, p=0.01)])
def test_pspline_mpls_is_the_anchors_under_a_penalised_spline(params):
    from test_spline_quantile_mixture import spline
    y, half = spectrum(500, 6), 12
    mask = params.get("mask", np.ones(500, bool))
    bridged = np.interp(np.arange(500), np.flatnonzero(mask), y[mask])
    _, weights = mpls(bridged, half, p=params.get("p", 0.0))
    solve = spline(y, params.get("x"), mask, params.get("num_knots", 100), params.get("spline_degree", 3),
                   params.get("diff_order", 2), params.get("lam", 1e3))
    expected, _ = solve(weights * mask)
    fit = quorvel.fit(y, "pspline_mpls", half_window=half, **params)
    assert np.array_equal(fit.weights, weights * mask)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)


@pytest.mark.parametrize("n, params", [(1000, {}), (10_000, dict(p=0.01, num_knots=300)),
                                       (1000, dict(half_window=20, diff_order=3, spline_degree=2))])
def test_pspline_mpls_agrees_with_the_reference_library(n, params):
    pybaselines = pytest.importorskip("pybaselines")
    y = spectrum(n, 7)
    expected, given = pybaselines.Baseline().pspline_mpls(y, **params)
    fit = quorvel.fit(y, "pspline_mpls", **params)
    assert fit.params["half_window"] == given["half_window"] and np.array_equal(fit.weights, given["weights"])
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-8 * np.ptp(y)
