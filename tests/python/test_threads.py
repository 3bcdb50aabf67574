import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import quorvel
from quorvel import _native
from support import NATIVE_METHODS, NATIVE_METHODS_2D, make_spectrum


@pytest.mark.parametrize("function", [_native.correct, quorvel.correct])  # a large input takes the tunable module
def test_interpreter_lock_is_released_while_computing(function):
    # The ticker sleeps between ticks and so needs the lock only briefly; if the call held the
    # lock throughout, the ticker could advance at most a couple of times at the call's edges.
    y = np.random.default_rng(0).random(2_000_000)
    ticks, stop = [0], threading.Event()

    def tick():
        while not stop.wait(0.0005):
            ticks[0] += 1

    ticker = threading.Thread(target=tick)
    ticker.start()
    most = 0
    try:
        for _ in range(5):
            before = ticks[0]
            function(y, "arpls")
            most = max(most, ticks[0] - before)
            if most >= 20:
                break
    finally:
        stop.set()
        ticker.join()
    assert most >= 20


def test_signals_and_grids_of_every_method_at_once_give_the_serial_bits():
    signals = [make_spectrum(n, seed) for n, seed in [(3_000, 1), (20_000, 2)]]
    # a 16 x 20 grid is solved directly, a 30 x 40 one by conjugate gradients
    grids = [make_spectrum(rows * cols, 5).reshape(rows, cols) for rows, cols in [(16, 20), (30, 40)]]
    for data in signals + grids:
        data.flags.writeable = False
    jobs = [(f, y, m) for f in (_native.correct, _native.baseline) for y in signals for m in NATIVE_METHODS]
    jobs += [(f, z, m) for f in (_native.correct_2d, _native.baseline_2d) for z in grids for m in NATIVE_METHODS_2D]
    serial = [function(data, method).tobytes() for function, data, method in jobs]
    order = np.random.default_rng(0).permutation(len(jobs))
    with ThreadPoolExecutor(max_workers=8) as pool:
        for _ in range(3):
            results = pool.map(lambda i: (i, jobs[i][0](jobs[i][1], jobs[i][2]).tobytes()), order)
            assert all(bits == serial[i] for i, bits in results)


NAN_AT = (3, 2_500, 7_777)


def keep_rewriting(targets, stop):
    """Refills the arrays with new values and plants and removes NaNs, until told to stop."""
    rng = np.random.default_rng(1)
    while not stop.is_set():
        for target in targets:
            np.copyto(target, rng.uniform(0.0, 10.0, target.shape))  # NumPy lets go of the lock while copying
            target.flat[list(NAN_AT)] = np.nan
            time.sleep(0.0002)  # readers get the lock while the NaNs are there
            for i, at in enumerate(NAN_AT):
                target.flat[at] = float(i)
                time.sleep(0)


def test_rewriting_the_input_during_calls_never_breaks_a_call():
    signal, grid = np.zeros(10_000), np.zeros((80, 125))
    calls = [(function, signal, method) for function in (_native.correct, _native.baseline)
             for method in ("asls", "rolling_ball", "polynomial")]
    calls += [(function, grid, method) for function in (_native.correct_2d, _native.baseline_2d)
              for method in ("rolling_ball", "polynomial")]
    nan_errors = {"input contains a non-finite value at index %d" % at for at in NAN_AT}
    stop, kept = threading.Event(), []

    def read(offset):
        for k in range(100):
            function, data, method = calls[(offset + k) % len(calls)]
            try:
                result = function(data, method)
            except ValueError as error:
                assert error.args[0] in nan_errors
            else:
                assert result.shape == data.shape and result.dtype == np.float64 and result.flags.c_contiguous
                assert np.isfinite(result).all()
                kept.append((result, result.tobytes()))

    writer = threading.Thread(target=keep_rewriting, args=([signal, grid], stop))
    writer.start()
    try:
        with ThreadPoolExecutor(max_workers=3) as pool:
            list(pool.map(read, range(3)))
    finally:
        stop.set()
        writer.join()
    # the writer kept going after each call returned: results never share the input's memory
    assert all(result.tobytes() == bits for result, bits in kept)
    for function, data, method in calls:
        assert function(data, method).tobytes() == function(data.copy(), method).tobytes()
