"""amormol against a NumPy transcription of Chen et al., Appl. Spectrosc. 73 (2019) 284, and against the
reference library."""
import numpy as np
import pytest

from support import (agrees_with_reference, flat, follows, make_spectrum, mollified, opening, settled_on_extended,
                     spectrum)


def amormol(y, half, tol=1e-3, max_iter=200):
    """b <- mollified min(y, mean of b's opening and closing) on the extended data, until the relative change
    of b over y's samples is below tol; the newest baseline, and the changes."""
    def step(baseline, padded):
        closing = flat(flat(baseline, (half,), np.max), (half,), np.min)
        return mollified(np.minimum(padded, 0.5 * (closing + opening(baseline, (half,)))), 2 * half + 1)

    return settled_on_extended(y, half, step, max_iter, tol)


@pytest.mark.parametrize("y, half, params", [(make_spectrum(300), 10, {}), (make_spectrum(60), 3, dict(tol=1e-2)),
                                             (make_spectrum(40), 25, {}), (spectrum(400, 6), 6, dict(max_iter=3))])
def test_amormol_follows_its_publication(y, half, params):
    follows("amormol", amormol, y, half, params, 1e-9)


@pytest.mark.parametrize("y, half", [(spectrum(1000, 1), None), (spectrum(1000, 2), 10), (spectrum(10_000, 3), 40)])
def test_amormol_agrees_with_the_reference_library(y, half):
    agrees_with_reference("amormol", y, half, 1e-9)
