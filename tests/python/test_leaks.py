"""Many calls of both extension modules, successful or not, leave neither memory nor references behind."""
import gc
import os
import sys

import numpy as np
import pytest

import quorvel
from quorvel import _native
from support import NATIVE_METHODS, NATIVE_METHODS_2D, make_spectrum

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm")

# Each native call copies its input (256 bytes here), each keyword call 2 KiB, and makes a result or an
# exception; keeping any of them would grow the process by well over 10 MB.
GROWTH = 8 * 2 ** 20
SIGNAL = make_spectrum(32)
GRID = SIGNAL.reshape(4, 8)


def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def fresh(name):
    """A copy of `name` that nothing else refers to: the interned spelling is shared with every module and
    thread that names the method, some of which (Dask's pools) let go of it whenever they next run."""
    return "".join(list(name))


def native_calls(function, data, names, param):
    """(function, args, kwargs) of successful calls and of every way a call can fail."""
    names = [fresh(name) for name in names]
    broken = data.copy()
    broken.flat[5] = np.nan
    short = np.ones((2,) * data.ndim)
    empty = np.empty((0,) * data.ndim)
    good = [((data, name), {}) for name in names] + [((data,), {}), ((), {param: data, "method": fresh("POLY")})]
    # the int is made at run time: small ones are shared
    bad = [((data.tolist(),), {}), ((data.astype(np.float32),), {}), ((data.reshape(1, -1, 1),), {}),
           ((data, fresh("bogus")), {}), ((data, b"asls"), {}), ((data, int("9" * 20)), {}),
           ((data, fresh("asls\ud800")), {}), ((empty, fresh("asls")), {}), ((broken, fresh("arpls")), {}),
           ((short, fresh("asls")), {}), ((short, fresh("polynomial")), {}), ((), {}),
           ((data, fresh("asls"), fresh("asls")), {}), ((data,), {"meth": fresh("asls")}), ((data,), {param: data})]
    return [(function, args, kwargs) for args, kwargs in good + bad]


def keyword_calls(fit, many, data):
    """Calls through the tunable module: one fit, and blocks of items, successful or not."""
    mask, broken = np.ones(data.shape, bool), data.copy()
    mask.flat[3], broken.flat[5] = False, np.nan
    return [(fit, (data, fresh("arpls")), {"lam": 1e5}), (fit, (data,), {"mask": mask}), (fit, (data,), {"bogus": 1}),
            (fit, (broken, fresh("poly")), {"poly_order": 1}), (fit, (data,), {"mask": mask[:1]}),
            (many, (data[None], fresh("asls")), {"workers": 1, "p": 0.1}),
            (many, (broken[None],), {"workers": 1, "lam": 2.0}),
            (many, (data[None],), {"mask": mask[None], "workers": 1, "tol": 1e-2})]


def hammer(calls, count):
    for i in range(count):
        function, args, kwargs = calls[i % len(calls)]
        try:
            function(*args, **kwargs)
        except (TypeError, ValueError):
            pass


def references(calls):
    gc.collect()
    # NumPy's own constructors, which the keyword calls use, leave the counts of built-in dtypes unbalanced
    objects = [np.dtype(np.float64)] if all(type(f) is type(_native.correct) for f, _, _ in calls) else []
    for _, args, kwargs in calls:  # small ints are shared, with counts that move all the time
        objects += [value for value in (*args, *kwargs.values()) if type(value) is not int or value > 256]
    return [sys.getrefcount(obj) for obj in objects]


@pytest.mark.parametrize("calls, count", [
    (native_calls(_native.correct, SIGNAL, NATIVE_METHODS, "y"), 100_000),
    (native_calls(_native.baseline, SIGNAL, NATIVE_METHODS, "y"), 100_000),
    (native_calls(_native.correct_2d, GRID, NATIVE_METHODS_2D, "data"), 100_000),
    (native_calls(_native.baseline_2d, GRID, NATIVE_METHODS_2D, "data"), 100_000),
    ([(_native.methods, (), {}), (_native.methods_2d, (), {}), (_native.methods, (1,), {}),
      (_native.methods_2d, (), {"x": 1})], 100_000),
    (keyword_calls(quorvel.fit, quorvel.correct_many, make_spectrum(256)), 20_000),
    (keyword_calls(quorvel.fit_2d, quorvel.baseline_2d_many, make_spectrum(256).reshape(32, 8)), 8_000),
])
def test_repeated_calls_keep_memory_and_references_flat(calls, count):
    hammer(calls, count // 20)
    before, counts = resident(), references(calls)
    hammer(calls, count)
    assert references(calls) == counts
    assert resident() - before < GROWTH
