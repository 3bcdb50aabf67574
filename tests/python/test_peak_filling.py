"""peak_filling against a NumPy transcription of Liland's 4S peak filling and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import masked_stretch, spectrum
from test_snip import close


def whittaker(y, lam):
    sparse = pytest.importorskip("scipy.sparse")
    d = sparse.diags([1.0, -2.0, 1.0], [0, 1, 2], shape=(y.size - 2, y.size))
    return sparse.linalg.spsolve((sparse.identity(y.size) + lam * d.T @ d).tocsc(), y)


def peak_filling(y, half_window, sections=None, max_iter=5, lam_smooth=None):
    """Smooth, subsample to each run's minimum (the end samples joined), suppress by sweeps up and down, stretch."""
    n = y.size
    v = whittaker(y, lam_smooth) if lam_smooth else y
    sections = sections or n // 10
    edges = (np.arange(sections + 1) * (n / sections)).astype(int)
    edges[-1] = n
    low = np.array([v[a:b].min() for a, b in zip(edges[:-1], edges[1:])])
    at = (edges[:-1] + edges[1:] - 1) / 2
    if at[0] > 0:
        at, low = np.r_[0, at], np.r_[v[0], low]
    if at[-1] < n - 1:
        at, low = np.r_[at, n - 1], np.r_[low, v[-1]]
    k, joined = low.size, low.size - sections
    h = min(half_window, (sections - 1) // 2)
    windows = np.ceil(np.geomspace(h, 1, max_iter)).astype(int) if max_iter > 1 and h else [h] * max_iter
    for w in windows:
        # The sweep up shrinks its windows as though the values ended `joined` places early, the sweep down as
        # though they began that late.
        for j, before, after in [(j, 0, joined) for j in range(k)] + [(j, joined, 0) for j in reversed(range(k))]:
            reach = min(j - before, w, k - 1 - after - j)
            if reach > 0:
                low[j] = min(low[j], low[j - reach:j + reach + 1].mean())
    return np.interp(np.arange(n), at, low)


SPECTRA = {size: spectrum(size, seed) for size, seed in ((1000, 11), (10_000, 12))}
PARAMS = [dict(half_window=1, sections=100, max_iter=1), dict(half_window=6, sections=100),
          dict(half_window=20, sections=333, max_iter=7), dict(half_window=3, sections=499, max_iter=2),
          dict(half_window=200, sections=50, max_iter=3), dict(half_window=4, lam_smooth=1e3)]


@pytest.mark.parametrize("size", sorted(SPECTRA))
@pytest.mark.parametrize("params", PARAMS)
def test_peak_filling_is_the_published_method(size, params):
    y = SPECTRA[size]
    close(quorvel.baseline(y, "peak_filling", **params), peak_filling(y, **params), y)


@pytest.mark.filterwarnings("ignore:half_window values greater")
@pytest.mark.parametrize("size", sorted(SPECTRA))
@pytest.mark.parametrize("params", PARAMS + [{}, dict(sections=250, max_iter=4)])
def test_peak_filling_agrees_with_the_reference_library(size, params):
    pybaselines = pytest.importorskip("pybaselines")
    y = SPECTRA[size]
    close(quorvel.baseline(y, "peak_filling", **params), pybaselines.Baseline().peak_filling(y, **params)[0], y)


@pytest.mark.parametrize("sections", [1, 2])
def test_one_or_two_sections_join_their_minima(sections):
    # The reference library fails here (a half window of zero in its logarithmic schedule).
    y = SPECTRA[1000]
    close(quorvel.baseline(y, "peak_filling", sections=sections, max_iter=5), peak_filling(y, 1, sections, 5), y)


def test_the_decided_window_is_reported():
    fit = quorvel.fit(SPECTRA[1000], "peak_filling")
    close(fit.baseline, peak_filling(SPECTRA[1000], fit.params["half_window"]), SPECTRA[1000])


def test_masked_samples_count_as_the_line_between_their_neighbours():
    y = SPECTRA[1000]
    masked, used, bridged = masked_stretch(y, 500, 560)
    close(quorvel.baseline(masked, "peak_filling", mask=used, half_window=5), peak_filling(bridged, 5), y)


@pytest.mark.parametrize("params, name", [(dict(sections=1001), "sections"), (dict(sections=0), "sections"),
                                          (dict(max_iter=0), "max_iter"), (dict(lam_smooth=-1.0), "lam_smooth")])
def test_peak_filling_names_the_parameter_it_rejects(params, name):
    with pytest.raises(ValueError, match=name):
        quorvel.baseline(SPECTRA[1000], "peak_filling", **params)
