"""imor against a NumPy transcription of Dai et al., Appl. Spectrosc. 72 (2018) 731, and against the reference
library."""
import numpy as np
import pytest

import quorvel
from support import REFERENCE_CASES, agrees_with_reference, flat, follows, make_spectrum, opening


def imor(y, halves, tol=1e-3, max_iter=200):
    """b <- min(y, mean of the dilation and erosion of b's opening) from b = y, until the relative change of b is
    below tol; the baseline from before that last pass, and the changes."""
    baseline, changes = y, []
    for _ in range(max_iter + 1):
        o = opening(baseline, halves)
        new = np.minimum(y, 0.5 * (flat(o, halves, np.max) + flat(o, halves, np.min)))
        changes.append(np.linalg.norm(new - baseline) / np.linalg.norm(baseline))
        if changes[-1] < tol:
            break
        baseline = new
    return baseline, changes


CASES = [(make_spectrum(300), 15, {}), (make_spectrum(300), 4, dict(tol=1e-2)), (make_spectrum(40), 3, {}),
         (np.random.default_rng(2).normal(size=(13, 17)) + 5, (2, 3), {}),
         (np.random.default_rng(3).random((20, 30)), 3, dict(max_iter=4, tol=0.0))]


@pytest.mark.parametrize("data, half, params", CASES)
def test_imor_follows_its_publication(data, half, params):
    follows("imor", lambda data, half, **params: imor(data, (half,) * data.ndim if np.isscalar(half) else half,
                                                       **params), data, half, params, 1e-12)


@pytest.mark.parametrize("data, half", REFERENCE_CASES)
def test_imor_agrees_with_the_reference_library(data, half):
    agrees_with_reference("imor", data, half, 1e-9)


@pytest.mark.parametrize("front", [quorvel.baseline, quorvel.fit, quorvel.baseline_many])
def test_a_fit_stopped_at_max_iter_warns(front):
    y = make_spectrum(300)
    with pytest.warns(quorvel.ConvergenceWarning, match="imor stopped at max_iter=2"):
        front(y if front is not quorvel.baseline_many else y[None], "imor", half_window=15, max_iter=2, tol=0.0)
