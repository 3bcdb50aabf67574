import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from quorvel import _native
from support import METHODS, make_spectrum


def test_concurrent_calls_give_the_serial_bits():
    jobs = [(function, make_spectrum(20_000, seed), method) for function in (_native.correct, _native.baseline)
            for seed in range(3) for method in METHODS]
    serial = [function(y, method).tobytes() for function, y, method in jobs]
    with ThreadPoolExecutor(max_workers=8) as pool:
        for _ in range(3):
            assert list(pool.map(lambda job: job[0](job[1], job[2]).tobytes(), jobs)) == serial


def test_interpreter_lock_is_released_while_computing():
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
            _native.correct(y, "arpls")
            most = max(most, ticks[0] - before)
            if most >= 20:
                break
    finally:
        stop.set()
        ticker.join()
    assert most >= 20
