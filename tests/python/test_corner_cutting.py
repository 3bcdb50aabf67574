"""corner_cutting against a NumPy transcription of Liu et al.'s corner cutting and Bezier spline."""
import warnings

import numpy as np
import pytest

import quorvel
from support import spectrum
from test_snip import close


def corner_cutting(y, x=None, max_iter=100, used=None):
    """Cuts every corner above its neighbours' line until none is left, then the quadratic Bezier spline through
    the midpoints of the remaining samples; returns the baseline and how many samples each iteration cut."""
    t = np.arange(y.size, dtype=float) if x is None else (x if x[-1] > x[0] else -x)
    kept = np.flatnonzero(np.ones(y.size, bool) if used is None else used)
    cuts = []
    while len(cuts) < max_iter and (not cuts or cuts[-1]):
        a, b, c = kept[:-2], kept[1:-1], kept[2:]
        corner = (t[b] - t[a]) * (y[c] - y[a]) < (y[b] - y[a]) * (t[c] - t[a])
        cuts.append(int(corner.sum()))
        kept = np.r_[kept[:1], b[~corner], kept[-1:]] if kept.size > 1 else kept
    px, py = t[kept], y[kept]
    if kept.size < 3:
        return np.interp(t, px, py), cuts
    ends_x = np.r_[px[0], (px[1:-2] + px[2:-1]) / 2, px[-1]]
    ends_y = np.r_[py[0], (py[1:-2] + py[2:-1]) / 2, py[-1]]
    baseline = np.interp(t, px, py)  # level past the ends
    for k in range(1, kept.size - 1):
        (a, c, b), (ya, yc, yb) = (ends_x[k - 1], px[k], ends_x[k]), (ends_y[k - 1], py[k], ends_y[k])
        inside = (t >= a) & (t <= b)
        u = np.array([np.roots([a - 2 * c + b, 2 * (c - a), a - s]) for s in t[inside]], dtype=object)
        u = np.array([r[(r.real >= -1e-9) & (r.real <= 1 + 1e-9)].real[0] if r.size else 0.0 for r in u], float)
        baseline[inside] = (1 - u) ** 2 * ya + 2 * u * (1 - u) * yc + u ** 2 * yb
    return baseline, cuts




CASES = [(1000, {}), (10_000, {}), (1000, dict(max_iter=3)), (1000, dict(x=np.geomspace(1.0, 90.0, 1000))),
         (10_000, dict(x=np.linspace(4000.0, 400.0, 10_000), max_iter=5))]


@pytest.mark.parametrize("n, params", CASES)
def test_corner_cutting_is_the_published_method(n, params):
    y = spectrum(n, 20)
    expected, cuts = corner_cutting(y, **params)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        fit = quorvel.fit(y, "corner_cutting", **params)
    assert fit.iterations == len(cuts) and list(fit.changes) == cuts and fit.converged == (cuts[-1] == 0)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)


@pytest.mark.parametrize("background", [lambda t: 4 * (t - 0.5) ** 2, lambda t: 0 * t, lambda t: t])
def test_convex_and_flat_backgrounds_leave_a_curve_under_the_peaks(background):
    # The reference library (pybaselines 1.2.1) returns the data itself on these, or raises on a convex one.
    t = np.linspace(0.0, 1.0, 2000)
    peaks = spectrum(t.size, 21) - (3.0 + 2.0 * t + np.sin(4.0 * t))
    baseline = quorvel.baseline(background(t) + peaks, "corner_cutting")
    assert np.max(np.abs(baseline - background(t))) < 0.05 * np.ptp(peaks)


def test_a_convex_spectrum_has_no_corner_to_cut():
    y = np.linspace(-1.0, 1.0, 500) ** 2
    fit = quorvel.fit(y, "corner_cutting")
    assert fit.converged and fit.iterations == 1
    close(fit.baseline, corner_cutting(y)[0], y)


def test_masked_samples_are_never_kept():
    y = spectrum(1000, 22)
    used = np.ones(y.size, bool)
    used[400:450] = False
    baseline = quorvel.baseline(np.where(used, y, np.nan), "corner_cutting", mask=used)
    close(baseline, corner_cutting(y, used=used)[0], y)
