"""A hundred thousand calls, successful or not, leave neither memory nor references behind."""
import os
import sys

import numpy as np
import pytest

from quorvel import _native
from support import METHODS, METHODS_2D, make_spectrum

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm")

CALLS = 100_000
# Each call copies its input (256 bytes here) and makes a result or an exception; keeping any of them
# would grow the process by well over 10 MB.
GROWTH = 8 * 2 ** 20
SIGNAL = make_spectrum(32)
GRID = SIGNAL.reshape(4, 8)


def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def calls(data, names, param):
    """(args, kwargs) of successful calls and of every way a call can fail."""
    broken = data.copy()
    broken.flat[5] = np.nan
    short = np.ones((2,) * data.ndim)
    empty = np.empty((0,) * data.ndim)
    good = [((data, name), {}) for name in names] + [((data,), {}), ((), {param: data, "method": "POLY"})]
    # the int is made at run time: small ones are shared, with counts that move all the time
    bad = [((data.tolist(),), {}), ((data.astype(np.float32),), {}), ((data.reshape(1, -1, 1),), {}),
           ((data, "bogus"), {}), ((data, b"asls"), {}), ((data, int("9" * 20)), {}), ((data, "asls\ud800"), {}),
           ((empty, "asls"), {}), ((broken, "arpls"), {}), ((short, "asls"), {}), ((short, "polynomial"), {}),
           ((), {}), ((data, "asls", "asls"), {}), ((data,), {"meth": "asls"}), ((data,), {param: data})]
    return good + bad


def hammer(function, cases, count):
    for i in range(count):
        args, kwargs = cases[i % len(cases)]
        try:
            function(*args, **kwargs)
        except (TypeError, ValueError):
            pass


def references(cases):
    objects = [np.dtype(np.float64)]
    for args, kwargs in cases:
        objects += list(args) + list(kwargs.values())
    return [sys.getrefcount(obj) for obj in objects]


@pytest.mark.parametrize("function, data, names, param", [
    (_native.correct, SIGNAL, METHODS, "y"), (_native.baseline, SIGNAL, METHODS, "y"),
    (_native.correct_2d, GRID, METHODS_2D, "data"), (_native.baseline_2d, GRID, METHODS_2D, "data"),
])
def test_repeated_calls_keep_memory_and_references_flat(function, data, names, param):
    cases = calls(data, names, param)
    hammer(function, cases, 5_000)
    before, counts = resident(), references(cases)
    hammer(function, cases, CALLS)
    assert references(cases) == counts
    assert resident() - before < GROWTH


@pytest.mark.parametrize("function", [_native.methods, _native.methods_2d])
def test_method_lists_do_not_accumulate(function):
    cases = [((), {}), ((1,), {}), ((), {"x": 1})]
    hammer(function, cases, 5_000)
    before = resident()
    hammer(function, cases, CALLS)
    assert resident() - before < GROWTH


@pytest.mark.parametrize("function, data", [(_native.correct, SIGNAL), (_native.baseline_2d, GRID)])
def test_a_result_is_held_only_by_its_caller(function, data):
    result, fresh = function(data, "poly"), np.empty(3)[::1]
    assert sys.getrefcount(result) == sys.getrefcount(fresh)
    assert sys.getrefcount(result.base) == sys.getrefcount(fresh.base)
