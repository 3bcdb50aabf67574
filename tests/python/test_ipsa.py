"""ipsa against a NumPy transcription of Wang et al., Appl. Spectrosc. 71 (2017) 1169, and against the reference
library."""
import numpy as np
import pytest

import quorvel
from support import agrees_pass_by_pass, follows, make_spectrum, settled_on_extended, spectrum


def quadratic_smooth(x, half):
    """The least-squares parabola through each 2h + 1 samples at the middle one, x's ends repeated."""
    offsets = np.arange(-half, half + 1)
    kernel = np.linalg.pinv(np.vander(offsets, 3))[-1]
    return np.convolve(np.pad(x, half, mode="edge"), kernel[::-1], mode="valid")


def ipsa(y, half, max_iter=500, tol=1e-3):
    """b <- the smooth of min(y, b) on y extended by 2h + 1 samples along its edge lines, until b changes by less
    than tol over y's samples; the newest baseline and the changes."""
    return settled_on_extended(y, half, lambda b, padded: quadratic_smooth(np.minimum(padded, b), half), max_iter,
                               tol)


@pytest.mark.parametrize("y, half, params", [(make_spectrum(300), 10, {}), (make_spectrum(60), 3, dict(tol=1e-2)),
                                             (make_spectrum(40), 25, {}), (spectrum(400, 6), 40, dict(max_iter=3))])
def test_ipsa_follows_its_publication(y, half, params):
    follows("ipsa", ipsa, y, half, params, 1e-11)


@pytest.mark.parametrize("y, half, params", [(spectrum(1000, 1), None, {}), (spectrum(1000, 2), 20, dict(tol=1e-2)),
                                             (spectrum(10_000, 3), None, {}), (spectrum(10_000, 4), 40, {})])
def test_ipsa_agrees_with_the_reference_library(y, half, params):
    fit, _ = agrees_pass_by_pass("ipsa", y, half, params, 1e-9)
    if half is None:
        assert fit.params["half_window"] == 4 * quorvel.fit(y, "mor").params["half_window"]
