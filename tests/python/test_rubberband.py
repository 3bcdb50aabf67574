"""rubberband against a NumPy transcription of the monotone chain and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import make_spectrum


def lower_hull(t, v, used):
    """Andrew's monotone chain over the used samples: a vertex stays only strictly below its neighbours' chord."""
    hull = []
    for i in np.flatnonzero(used):
        while len(hull) >= 2 and (t[hull[-1]] - t[hull[-2]]) * (v[i] - v[hull[-2]]) <= \
                (v[hull[-1]] - v[hull[-2]]) * (t[i] - t[hull[-2]]):
            hull.pop()
        hull.append(i)
    return hull


def moving_average(y, h):
    ends = [np.polyval(np.polyfit(np.arange(h), edge, 1), at)
            for edge, at in ((y[:h], np.arange(-h, 0)), (y[-h:], np.arange(h, 2 * h)))]
    return np.convolve(np.concatenate([ends[0], y, ends[1]]), np.ones(2 * h + 1) / (2 * h + 1), mode="valid")


def rubberband(y, x=None, segments=1, lam=None, diff_order=2, smooth_half_window=None, used=None):
    n = y.size
    t = np.arange(n, dtype=float) if x is None else (x if x[-1] > x[0] else -x)
    v = moving_average(y, smooth_half_window) if smooth_half_window else y
    used = np.ones(n, bool) if used is None else used
    bounds = [k * n // segments for k in range(segments + 1)]
    hull = [first + i for first, end in zip(bounds, bounds[1:])
            for i in lower_hull(t[first:end], v[first:end], used[first:end])]
    if not lam:
        return np.interp(t, t[hull], v[hull])
    w = np.zeros(n)
    w[hull] = 1.0
    d = np.diff(np.eye(n), diff_order, axis=0)
    return np.linalg.solve(np.diag(w) + lam * d.T @ d, w * v)


def concave(n):
    x = np.linspace(0.0, 1.0, n)
    return 40.0 * np.sin(np.pi * x) + 100.0 * make_spectrum(n)


CASES = [(1000, {}), (10_000, {}), (1000, dict(segments=3)), (10_000, dict(segments=7)),
         (1000, dict(smooth_half_window=5)), (1000, dict(x=np.geomspace(1.0, 50.0, 1000))),
         (1000, dict(x=np.linspace(4000.0, 400.0, 1000), segments=2)), (400, dict(lam=1e3)),
         (400, dict(lam=10.0, diff_order=1, segments=2))]


def agree(actual, expected, y, lam):
    # A smooth through a few vertices is ill-conditioned: solves part by about 1e-9 of the range.
    assert np.max(np.abs(actual - expected)) <= (1e-8 if lam else 1e-12) * np.ptp(y)


@pytest.mark.parametrize("n, params", CASES)
def test_rubberband_is_the_lower_hull(n, params):
    y = concave(n)
    agree(quorvel.baseline(y, "rubberband", **params), rubberband(y, **params), y, params.get("lam"))


@pytest.mark.parametrize("n, params", CASES)
def test_rubberband_agrees_with_the_reference_library(n, params):
    pybaselines = pytest.importorskip("pybaselines")
    y, given = concave(n), dict(params)
    x = given.pop("x", None)
    expected = pybaselines.Baseline(x_data=x).rubberband(y, **given)[0]
    agree(quorvel.baseline(y, "rubberband", x=x, **given), expected, y, params.get("lam"))


def test_masked_samples_never_lift_the_hull():
    # The reference library drops masked vertices from the hull of every sample, which can leave its baseline
    # above used samples; here the hull is that of the used samples alone.
    y = concave(500)
    used = np.ones(y.size, bool)
    used[:40] = used[240:260] = False
    baseline = quorvel.baseline(np.where(used, y, np.nan), "rubberband", mask=used)
    assert np.all(baseline[used] <= y[used] + 1e-12 * np.ptp(y))
    agree(baseline, rubberband(y, used=used), y, None)


@pytest.mark.parametrize("params, name", [(dict(segments=0), "segments"), (dict(segments=1001), "segments"),
                                          (dict(lam=1.0, diff_order=4), "diff_order")])
def test_rubberband_names_the_parameter_it_rejects(params, name):
    with pytest.raises(ValueError, match=name):
        quorvel.baseline(concave(1000), "rubberband", **params)
