"""mor against a NumPy transcription of Perez-Pueyo et al., Appl. Spectrosc. 64 (2010) 595, and against the
reference library."""
import numpy as np
import pytest

import quorvel
from support import REFERENCE_CASES, WINDOW_CASES, agrees_with_reference, flat, has_the_bits_of, opening, spectrum


def mor(data, halves):
    """The opening o, lowered to the mean of its dilation and erosion where that runs below it."""
    o = opening(data, halves)
    return np.minimum(o, 0.5 * (flat(o, halves, np.max) + flat(o, halves, np.min)))


@pytest.mark.parametrize("data, half", WINDOW_CASES)
def test_mor_is_the_averaged_opening(data, half):
    has_the_bits_of("mor", data, half, mor)


@pytest.mark.parametrize("data, half", REFERENCE_CASES)
def test_mor_agrees_with_the_reference_library(data, half):
    agrees_with_reference("mor", data, half, 1e-12)


def test_a_window_estimated_under_a_mask_is_the_bridged_datas():
    y = spectrum(600, 5)
    used = np.ones(y.size, bool)
    used[200:230] = False
    bridged = y.copy()
    bridged[200:230] = np.interp(np.arange(200, 230), [199, 230], y[[199, 230]])
    y[200:230] = np.nan
    masked, plain = quorvel.fit(y, "mor", mask=used), quorvel.fit(bridged, "mor")
    assert masked.params["half_window"] == plain.params["half_window"]
    assert np.allclose(masked.baseline, plain.baseline, rtol=0, atol=1e-12)
