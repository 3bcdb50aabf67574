"""The half window that mor and imor settle at when half_window is None: a NumPy ladder of openings (Perez-Pueyo
et al., Appl. Spectrosc. 64 (2010) 595) and the reference library's optimize_window."""
import numpy as np
import pytest
from scipy import ndimage

import quorvel
from support import spectrum


def ladder(data, tol=1e-6, needed=3):
    """Openings of square windows h = 2, 3, ... below half the columns, each against the last; the first of
    `needed` windows in a row that each change it by less than tol, or the last window tried."""
    def opened(h):
        return ndimage.grey_opening(data, size=(2 * h + 1,) * data.ndim, mode="reflect")
    h, hits, previous = 1, 0, opened(1)
    for h in range(2, (data.shape[-1] - 1) // 2):
        current = opened(h)
        norm, change = np.linalg.norm(previous), np.linalg.norm(current - previous)
        hits = hits + 1 if (change / norm if norm else np.inf if change else 0.0) < tol else 0
        if hits == needed:
            return h - needed
        previous = current
    return h


def estimated(data):
    fit = quorvel.fit if data.ndim == 1 else quorvel.fit_2d
    return fit(data, "mor").params["half_window"]


RNG = np.random.default_rng(4)
SIGNALS = [spectrum(300, 0), spectrum(400, 1), RNG.normal(size=250), -50.0 + RNG.normal(size=99), np.ones(40),
           np.arange(60.0), np.arange(60.0)[::-1] ** 2, np.repeat(RNG.normal(size=12), 17),
           np.abs(np.arange(-30, 31.0)), RNG.normal(size=9), RNG.normal(size=5), np.ones(2), np.ones(1), np.zeros(30),
           1e8 + spectrum(200, 2)]


@pytest.mark.parametrize("y", SIGNALS)
def test_the_estimate_is_the_ladders(y):
    assert estimated(y) == ladder(y)


@pytest.mark.parametrize("shape", [(20, 50), (50, 20), (9, 40), (31, 30)])
def test_the_grid_estimate_is_the_ladders_on_square_windows(shape):
    rows, cols = np.meshgrid(np.linspace(0, 1, shape[0]), np.linspace(0, 1, shape[1]), indexing="ij")
    data = rows + cols**2 + 4 * np.exp(-((rows - 0.4) ** 2 + (cols - 0.6) ** 2) / 0.01) + 0.01 * RNG.normal(size=shape)
    h = ladder(data)
    assert estimated(data) == (h, h)


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("seed", [0, 1, 2])
def test_the_estimate_agrees_with_the_reference_library(n, seed):
    utils = pytest.importorskip("pybaselines.utils")
    y = spectrum(n, seed)
    assert estimated(y) == utils.optimize_window(y)


@pytest.mark.parametrize("scale", [2.0**-110, 2.0**110])
def test_the_estimate_does_not_depend_on_the_data_units(scale):
    # The reference library floors the norm at 2^-52, which settles at once on data this small.
    y = spectrum(500, 3)
    assert estimated(y * scale) == estimated(y)


@pytest.mark.parametrize("method", ["mor", "imor"])
def test_a_grid_estimate_far_past_the_rows_gives_what_the_rows_allow(method):
    # A ridge that never settles runs the square search to half the columns, 425 times the two rows; windows
    # that long each hold the whole column, and once cost their length on every column (12 s a fit).
    ridge = -((np.arange(1703.0) - 851.5) / 1703) ** 2 * 1e3
    data = np.stack([ridge, ridge[::-1] + 1.0])
    fit = quorvel.fit_2d(data, method)
    assert fit.params["half_window"] == (850, 850)
    assert np.array_equal(fit.baseline, quorvel.baseline_2d(data, method, half_window=(1, 850)))
