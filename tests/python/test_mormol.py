"""mormol against a NumPy transcription of Koch et al., J. Raman Spectrosc. 48 (2017) 336, and against the
reference library."""
import numpy as np
import pytest

import quorvel
from support import agrees_with_reference, extended, follows, flat, make_spectrum, mollified, spectrum


def mormol(y, half, tol=1e-3, max_iter=250, smooth_half_window=None):
    """b <- b + mollified erosion of the (smoothed) data minus b, from b = 0 on the extended data, until the
    relative change of b over y's samples is below tol; the newest baseline, and the changes."""
    width = 2 * half + 1
    padded, inner = extended(y, width), slice(width, width + y.size)
    baseline, changes = np.zeros(padded.size), []
    for _ in range(max_iter + 1):
        residual = padded - baseline
        if smooth_half_window:
            residual = mollified(residual, smooth_half_window)
        new = baseline + mollified(flat(residual, (half,), np.min), width)
        old = np.linalg.norm(baseline[inner])
        changes.append(np.linalg.norm(new[inner] - baseline[inner]) / old if old else np.inf)
        baseline = new
        if changes[-1] < tol:
            break
    return baseline[inner], changes


@pytest.mark.parametrize("y, half, params", [
    (make_spectrum(300), 10, {}), (make_spectrum(60), 3, dict(tol=1e-2)), (make_spectrum(40), 25, {}),
    (spectrum(400, 6), 6, dict(max_iter=3)), (spectrum(400, 7), 8, dict(smooth_half_window=4))])
def test_mormol_follows_its_publication(y, half, params):
    follows("mormol", mormol, y, half, params, 1e-9)


@pytest.mark.parametrize("y, half", [(spectrum(1000, 1), None), (spectrum(1000, 2), 10), (spectrum(10_000, 3), 40)])
def test_mormol_agrees_with_the_reference_library(y, half):
    agrees_with_reference("mormol", y, half, 1e-9)


def test_mormol_smooths_as_the_reference_library_does():
    pybaselines = pytest.importorskip("pybaselines")
    y = spectrum(800, 9)
    expected, params = pybaselines.Baseline().mormol(y, half_window=12, smooth_half_window=5)
    fit = quorvel.fit(y, "mormol", half_window=12, smooth_half_window=5)
    assert fit.iterations == len(params["tol_history"])
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)
