"""swima against a NumPy transcription of Schulze et al., Appl. Spectrosc. 66 (2012) 757, and against the reference
library."""
import numpy as np
import pytest

import quorvel
from support import extended, make_spectrum, spectrum


def average(v, half):
    """The mean of 2h + 1 samples about each sample, v mirrored about its end samples."""
    return np.convolve(np.pad(v, half, mode="symmetric"), np.full(2 * half + 1, 1.0 / (2 * half + 1)), mode="valid")


def swima(y, min_half_window=3, max_half_window=None, smooth_half_window=None):
    """Passes b <- min(b, average(b, k)), k = 1, 2, ..., on y extended and smoothed; the pass before the area's
    second difference turns from positive to negative, at k - 1 >= min_half_window. Returns (baseline, passes)."""
    n = y.size
    pad = (n - 1) // 2 if max_half_window is None else max_half_window
    smooth = n // 50 if smooth_half_window is None else smooth_half_window
    inner = slice(pad, pad + n)
    b = extended(y, pad)
    b = average(b, smooth) if smooth else b
    areas, bends = [b[inner].sum()], [0.0]
    for k in range(1, pad + 1):
        new = np.minimum(b, average(b, k))
        areas.append(new[inner].sum())
        bends.append(areas[-1] - 2 * areas[-2] + areas[-3] if k >= 2 else 0.0)
        if k >= 3 and k - 1 >= min_half_window and bends[-2] > 0 > bends[-1]:
            return b[inner], k - 1
        b = new
    return b[inner], pad


@pytest.mark.parametrize("y, params", [(make_spectrum(300), dict(smooth_half_window=0)), (spectrum(1000, 1), {}),
                                       (spectrum(2000, 2), dict(min_half_window=10, max_half_window=200)),
                                       (make_spectrum(60), dict(max_half_window=5))])
def test_swima_follows_its_publication(y, params):
    fit = quorvel.fit(y, "swima", **params)
    expected, passes = swima(y, **params)
    assert fit.iterations == passes
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-11 * np.ptp(y)


@pytest.mark.parametrize("y, params", [(spectrum(1000, 1), {}), (spectrum(3000, 5), dict(smooth_half_window=10)),
                                       (make_spectrum(300), dict(smooth_half_window=0, min_half_window=20))])
def test_swima_agrees_with_the_reference_library(y, params):
    # Where the area's bend is never found, the reference library tries a second rule and a refit with a Gaussian
    # added; these spectra stop on the bend.
    pybaselines = pytest.importorskip("pybaselines")
    fit = quorvel.fit(y, "swima", **params)
    reference, info = pybaselines.Baseline().swima(y, **params)
    assert info["converged"] == [True] and fit.converged
    assert info["half_window"] == [fit.iterations]
    assert np.max(np.abs(fit.baseline - reference)) <= 1e-9 * np.ptp(y)


def test_passes_cut_short_warn_of_their_cap():
    with pytest.warns(quorvel.ConvergenceWarning, match="swima's passes reached max_half_window=4 before"):
        fit = quorvel.fit(spectrum(1000, 1), "swima", max_half_window=4)
    assert (fit.iterations, fit.converged) == (4, False)
