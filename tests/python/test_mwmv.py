"""mwmv against a NumPy transcription of the moving window minimum value and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import REFERENCE_CASES, agrees_with_reference, flat, masked_stretch, spectrum
from test_snip import close, pad


def mwmv(y, half_window, smooth_half_window=None):
    """Yaroshchyk & Eberhardt: the moving minimum, then the moving average of its edge-extended copy."""
    s = half_window if smooth_half_window is None else smooth_half_window
    minimum = flat(y, (half_window,), np.min)
    return np.convolve(pad(minimum, s), np.ones(2 * s + 1) / (2 * s + 1), mode="valid") if s else minimum


SPECTRA = {size: spectrum(size, seed) for size, seed in ((1000, 5), (10_000, 6), (100_000, 7))}
PARAMS = [dict(half_window=1), dict(half_window=20), dict(half_window=40, smooth_half_window=3),
          dict(half_window=25, smooth_half_window=0), dict(half_window=600, smooth_half_window=90)]


@pytest.mark.parametrize("size", [1000, 10_000])
@pytest.mark.parametrize("params", PARAMS)
def test_mwmv_is_the_published_filter(size, params):
    y = SPECTRA[size]
    close(quorvel.baseline(y, "mwmv", **params), mwmv(y, **params), y)


# At 10^5 samples the edge lines must be fitted near their own samples to keep the ends within 1e-12.
@pytest.mark.parametrize("size", sorted(SPECTRA))
@pytest.mark.parametrize("params", PARAMS[1:4])
def test_mwmv_agrees_with_the_reference_library(size, params):
    pybaselines = pytest.importorskip("pybaselines")
    y = SPECTRA[size]
    close(quorvel.baseline(y, "mwmv", **params), pybaselines.Baseline().mwmv(y, **params)[0], y)


@pytest.mark.parametrize("data, half", [case for case in REFERENCE_CASES if case[0].ndim == 1])
def test_mwmv_estimates_the_reference_library_s_window(data, half):
    agrees_with_reference("mwmv", data, half, 1e-12)


def test_masked_samples_count_as_the_line_between_their_neighbours():
    y = SPECTRA[1000]
    masked, used, bridged = masked_stretch(y, 300, 340)
    close(quorvel.baseline(masked, "mwmv", mask=used, half_window=9), mwmv(bridged, 9), y)


def test_a_smoothing_window_past_the_data_is_refused():
    with pytest.raises(ValueError, match="smooth_half_window"):
        quorvel.baseline(SPECTRA[1000][:50], "mwmv", half_window=3, smooth_half_window=51)
