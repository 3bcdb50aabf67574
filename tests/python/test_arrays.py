import gc

import numpy as np
import pytest

from quorvel import _native
from support import METHODS, check_raises


def unaligned(values, step=3):
    raw = np.zeros(values.size * step * 8 + 1, np.uint8)
    view = raw[1:].view(np.float64)[::step]
    view[...] = values
    return view


def read_only(values):
    view = values.copy()
    view.setflags(write=False)
    return view


# Each entry gives the input and a fresh C-contiguous array holding the same samples.
LAYOUTS = {
    "reversed": lambda y: (y[::-1], y[::-1].copy()),
    "strided": lambda y: (y[1::3], y[1::3].copy()),
    "broadcast": lambda y: (np.broadcast_to(y[3], (60,)), np.full(60, y[3])),
    "read-only": lambda y: (read_only(y), y),
    "masked": lambda y: (np.ma.masked_greater(y, 3.0), y),
    "unaligned-strided": lambda y: (unaligned(y), y),
}


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("layout", list(LAYOUTS))
def test_layout_never_changes_the_result(spectrum, method, layout):
    given, logical = LAYOUTS[layout](spectrum)
    before = np.array(given, copy=True)
    base, corrected = _native.baseline(given, method), _native.correct(given, method)
    assert np.array_equal(base, _native.baseline(logical, method))
    assert np.array_equal(corrected, logical - base)  # the subtraction is the only step between them
    assert np.array_equal(np.asarray(given), before)
    for result in (base, corrected):
        assert type(result) is np.ndarray and result.dtype == np.float64 and result.dtype.isnative
        assert result.shape == logical.shape and result.strides == (8,)
        assert result.flags.c_contiguous and result.flags.writeable
        assert result.base is not None and not np.shares_memory(result, given)


def test_results_outlive_their_input(spectrum):
    y = spectrum.copy()
    results = [_native.correct(y, "arpls"), _native.baseline(y, "arpls")]
    y[:] = 0.0
    del y
    gc.collect()
    filler = [np.full(spectrum.size, 1e9) for _ in range(20)]
    assert np.array_equal(results[0], spectrum - results[1]) and len(filler) == 20
    assert np.array_equal(results[1], _native.baseline(spectrum, "arpls"))


def grid_layouts(grid):
    padded = np.zeros((grid.shape[0] * 2, grid.shape[1] * 3))
    padded[::2, ::3] = grid
    return [np.asfortranarray(grid), np.ascontiguousarray(grid.T).T, grid[::-1, ::-1].copy()[::-1, ::-1],
            padded[::2, ::3]]


@pytest.mark.parametrize("function", [_native.correct_2d, _native.baseline_2d])
def test_grids_are_read_in_row_major_order(function):
    # Scanned in memory order, these layouts would meet the NaN at (2, 1) before the one at (1, 2).
    grid = np.arange(12.0).reshape(3, 4)
    grid[1, 2] = grid[2, 1] = np.nan
    for given in grid_layouts(grid):
        check_raises(ValueError, "input contains a non-finite value at index 6", function, given, "poly")
    row, column = np.array([0.0, 1.0, np.inf, 3.0]), np.array([[0.0], [np.nan], [2.0]])
    check_raises(ValueError, "input contains a non-finite value at index 2", function, np.broadcast_to(row, (5, 4)))
    check_raises(ValueError, "input contains a non-finite value at index 4", function, np.broadcast_to(column, (3, 4)))
