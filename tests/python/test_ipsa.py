"""ipsa against a NumPy transcription of Wang et al., Appl. Spectrosc. 71 (2017) 1169, and against the reference
library."""
import warnings

import numpy as np
import pytest

import quorvel
from support import extended, follows, make_spectrum, spectrum


def quadratic_smooth(x, half):
    """The least-squares parabola through each 2h + 1 samples at the middle one, x's ends repeated."""
    offsets = np.arange(-half, half + 1)
    kernel = np.linalg.pinv(np.vander(offsets, 3))[-1]
    return np.convolve(np.pad(x, half, mode="edge"), kernel[::-1], mode="valid")


def ipsa(y, half, max_iter=500, tol=1e-3):
    """b <- the smooth of min(y, b) on y extended by 2h + 1 samples along its edge lines, until b changes by less
    than tol over y's samples; the newest baseline and the changes."""
    width = 2 * half + 1
    padded, inner = extended(y, width), slice(width, width + y.size)
    baseline, changes = padded, []
    for _ in range(max_iter + 1):
        new = quadratic_smooth(np.minimum(padded, baseline), half)
        changes.append(np.linalg.norm(new[inner] - baseline[inner]) / np.linalg.norm(baseline[inner]))
        baseline = new
        if changes[-1] < tol:
            break
    return baseline[inner], changes


def fitted(y, half, params):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        return quorvel.fit(y, "ipsa", half_window=half, **params)


@pytest.mark.parametrize("y, half, params", [(make_spectrum(300), 10, {}), (make_spectrum(60), 3, dict(tol=1e-2)),
                                             (make_spectrum(40), 25, {}), (spectrum(400, 6), 40, dict(max_iter=3))])
def test_ipsa_follows_its_publication(y, half, params):
    follows("ipsa", ipsa, y, half, params, 1e-11)


@pytest.mark.parametrize("y, half, params", [(spectrum(1000, 1), None, {}), (spectrum(1000, 2), 20, dict(tol=1e-2)),
                                             (spectrum(10_000, 3), None, {}), (spectrum(10_000, 4), 40, {})])
def test_ipsa_agrees_with_the_reference_library(y, half, params):
    pybaselines = pytest.importorskip("pybaselines")
    expected, given = pybaselines.Baseline().ipsa(y, half_window=half, **params)
    fit = fitted(y, half, params)
    assert fit.iterations == len(given["tol_history"])
    np.testing.assert_allclose(fit.changes, given["tol_history"], rtol=1e-9)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)
    if half is None:
        assert fit.params["half_window"] == 4 * quorvel.fit(y, "mor").params["half_window"]
