"""tophat against a NumPy transcription of the flat opening and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import WINDOW_CASES as CASES, bits, has_the_bits_of, make_spectrum, opening


@pytest.mark.parametrize("data, half", CASES)
def test_tophat_is_the_flat_opening(data, half):
    has_the_bits_of("tophat", data, half, opening)


@pytest.mark.parametrize("data, half", CASES)
def test_tophat_agrees_with_the_reference_library(data, half):
    pybaselines = pytest.importorskip("pybaselines")
    if data.ndim == 1:
        expected = pybaselines.Baseline().tophat(data, half_window=half)[0]
        assert bits(quorvel.baseline(data, "tophat", half_window=half)) == bits(expected)
    else:
        expected = pybaselines.Baseline2D().tophat(data, half_window=half)[0]
        assert bits(quorvel.baseline_2d(data, "tophat", half_window=half)) == bits(expected)


def test_tophat_bridges_masked_samples():
    y = make_spectrum(200)
    used = np.ones(y.size, bool)
    used[50:60] = False
    bridged = y.copy()
    bridged[50:60] = y[49] + (y[60] - y[49]) * ((np.arange(50, 60) - 49) / 11)
    y[50:60] = np.nan
    assert bits(quorvel.baseline(y, "tophat", mask=used)) == bits(quorvel.baseline(bridged, "tophat"))
