"""noise_median against a NumPy transcription of Friedrichs' noise-median and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import make_spectrum, masked_stretch
from test_snip import close, pad


def moving_median(values, halves):
    """The median over 2h + 1 samples per axis, the edge values repeated past the ends."""
    halves = np.broadcast_to(halves, values.ndim)
    padded = np.pad(values, [(h, h) for h in halves], mode="edge")
    windows = np.lib.stride_tricks.sliding_window_view(padded, [2 * h + 1 for h in halves])
    return np.median(windows.reshape(*values.shape, -1), axis=-1)


def gaussian(values, s, sigma, axis):
    """The area-normalised Gaussian of 2s + 1 taps along `axis`, the values reflected about their ends."""
    taps = np.exp(-0.5 * (np.arange(-s, s + 1) / sigma) ** 2)
    padded = np.pad(values, [(s, s) if a == axis else (0, 0) for a in range(values.ndim)], mode="reflect")
    return np.apply_along_axis(np.convolve, axis, padded, taps / taps.sum(), mode="valid")


def noise_median(y, half_window, smooth_half_window=None, sigma=None):
    s = half_window if smooth_half_window is None else smooth_half_window
    sigma = (2 * s + 1) / 6 if sigma is None else sigma
    smoothed = gaussian(moving_median(pad(y, half_window), half_window), s, sigma, 0)
    return smoothed[half_window:y.size + half_window]


def noise_median_2d(data, halves, smooth_half_window, sigma):
    median = moving_median(data, halves)
    return gaussian(gaussian(median, smooth_half_window, sigma, 1), smooth_half_window, sigma, 0)


SPECTRA = {size: make_spectrum(size) * 100 for size in (1000, 10_000, 100_000)}
# Half windows under 8 slide one sorted window, from 8 on sorted blocks; smoothing windows past about 200 taps
# go through the FFT, and those wider than the median's padding reflect it.
ONE_D = [dict(half_window=3), dict(half_window=20), dict(half_window=150, smooth_half_window=40),
         dict(half_window=9, smooth_half_window=0), dict(half_window=30, smooth_half_window=5, sigma=4.0),
         dict(half_window=6, smooth_half_window=130)]


@pytest.mark.parametrize("size", [1000, 10_000])
@pytest.mark.parametrize("params", ONE_D)
def test_noise_median_is_the_published_filter(size, params):
    y = SPECTRA[size]
    close(quorvel.baseline(y, "noise_median", **params), noise_median(y, **params), y)


# At 10^5 samples an edge line on positions counted from the start keeps too few digits (5e-12 of the range).
@pytest.mark.parametrize("size", [1000, 10_000, 100_000])
@pytest.mark.parametrize("params", ONE_D)
def test_noise_median_agrees_with_the_reference_library(size, params):
    pybaselines = pytest.importorskip("pybaselines")
    y = SPECTRA[size]
    close(quorvel.baseline(y, "noise_median", **params), pybaselines.Baseline().noise_median(y, **params)[0], y)


# Blocks of 2 half_window + 1 values keep a bit per value in 64-bit words: one, two and three words here.
@pytest.mark.parametrize("half_window", [2, 8, 31, 32, 70])
def test_ties_and_short_spectra_take_the_exact_median(half_window):
    rng = np.random.default_rng(half_window)
    for size in (1, 2, 3, 17, 64, 500, 3000):
        y = np.round(rng.normal(size=size) * 2) + 0.0
        h = min(half_window, max(size - 1, 1))
        close(quorvel.baseline(y, "noise_median", half_window=h, smooth_half_window=0),
              moving_median(pad(y, h), h)[h:size + h], y)


# Windows of up to 96 points find their places by counting, larger ones (the last) by binary search.
GRIDS = [(np.random.default_rng(4).gamma(2.0, size=(30, 41)) + np.add.outer(np.arange(30), np.arange(41)) / 9,
          4, 3, 1.2),
         (np.random.default_rng(5).normal(size=(17, 12)) ** 2, (2, 6), 0, 1.0),
         (np.random.default_rng(6).integers(0, 4, size=(40, 9)) + 0.0, (9, 4), 5, 2.5)]


@pytest.mark.parametrize("data, halves, s, sigma", GRIDS)
def test_grid_noise_median_is_the_published_filter(data, halves, s, sigma):
    got = quorvel.baseline_2d(data, "noise_median", half_window=halves, smooth_half_window=s, sigma=sigma)
    close(got, noise_median_2d(data, halves, s, sigma), data)


def test_grid_median_agrees_with_the_reference_library():
    # The reference library's grid smoothing reaches past smooth_half_window, so only the median is compared.
    pybaselines = pytest.importorskip("pybaselines")
    data = GRIDS[0][0]
    expected = pybaselines.Baseline2D().noise_median(data, half_window=(3, 5), smooth_half_window=1, sigma=1e-3)[0]
    close(quorvel.baseline_2d(data, "noise_median", half_window=(3, 5), smooth_half_window=0), expected, data)


def test_defaults_take_twice_the_window_the_openings_settle_at():
    pybaselines = pytest.importorskip("pybaselines")
    y = SPECTRA[1000]
    fit = quorvel.fit(y, "noise_median")
    assert fit.params["half_window"] == 2 * pybaselines.utils.optimize_window(y)
    close(fit.baseline, pybaselines.Baseline().noise_median(y)[0], y)
    # On grids, twice the median of the lines' own windows along each axis.
    data = GRIDS[0][0]
    grid = quorvel.fit_2d(data, "noise_median")
    lines = [sorted(quorvel.fit(line, "mor").params["half_window"] for line in side) for side in (data.T, data)]
    expected = tuple(min(2 * found[len(found) // 2], extent - 1) for found, extent in zip(lines, data.shape))
    assert grid.params["half_window"] == expected
    assert np.array_equal(grid.baseline, quorvel.baseline_2d(data, "noise_median", half_window=expected))


@pytest.mark.parametrize("params, message", [
    (dict(half_window=0), "half_window"), (dict(half_window=1000), "half_window"),
    (dict(smooth_half_window=-1), "smooth_half_window"), (dict(sigma=0.0), "sigma"),
    (dict(sigma=np.inf), "sigma"), (dict(half_window=2.5), "half_window")])
def test_noise_median_names_the_parameter_it_rejects(params, message):
    with pytest.raises((ValueError, TypeError), match=message):
        quorvel.baseline(SPECTRA[1000], "noise_median", **params)


@pytest.mark.parametrize("half_window", [5, 12])  # a sorted window, then sorted blocks
def test_an_overflowing_padding_is_refused_not_ranked(half_window):
    # Edge lines through values near the top of the range overflow to NaN, which had corrupted the sorted window.
    y = np.tile([1.7976931348623157e308, -1.5e308, 1e308, 2.0], 20)
    with pytest.raises(ValueError, match="the baseline overflows"):
        quorvel.baseline(y, "noise_median", half_window=half_window)


def test_masked_samples_count_as_the_line_across_them():
    y, used, bridged = masked_stretch(SPECTRA[1000], 300, 340)
    close(quorvel.baseline(y, "noise_median", mask=used, half_window=25),
          quorvel.baseline(bridged, "noise_median", half_window=25), bridged)
