"""tophat against a NumPy transcription of the flat opening and against the reference library."""
import numpy as np
import pytest
from numpy.lib.stride_tricks import sliding_window_view

import quorvel
from support import bits, make_spectrum


def opening(data, halves):
    """Minimum then maximum over windows of 2h + 1 per axis, the data mirrored half a sample out."""
    def extremum(values, pick):
        for axis, h in enumerate(halves):
            padded = np.pad(values, [(h, h) if a == axis else (0, 0) for a in range(values.ndim)], mode="symmetric")
            values = pick(sliding_window_view(padded, 2 * h + 1, axis=axis), axis=-1)
        return values
    return extremum(extremum(data, np.min), np.max)


CASES = [(make_spectrum(300), 15), (make_spectrum(300), 1), (make_spectrum(9), 4),
         (np.random.default_rng(2).normal(size=(13, 17)), (2, 5)), (np.random.default_rng(3).random((6, 40)), 3)]


@pytest.mark.parametrize("data, half", CASES)
def test_tophat_is_the_flat_opening(data, half):
    halves = (half,) * data.ndim if np.isscalar(half) else half
    baseline = (quorvel.baseline if data.ndim == 1 else quorvel.baseline_2d)(data, "tophat", half_window=half)
    assert bits(baseline) == bits(opening(data, halves))


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
