import os

import numpy as np
import pytest

from quorvel import _native
from support import INVALID_1D, INVALID_2D, check_raises


@pytest.mark.parametrize("function, shape", [
    (_native.correct, (2 ** 50,)), (_native.correct_2d, (2 ** 25, 2 ** 25)), (_native.baseline_2d, (2 ** 59, 1)),
])
def test_uncopyable_input_raises_memory_error(spectrum, function, shape):
    expected = _native.correct(spectrum, "arpls")
    huge = np.broadcast_to(np.float64(1.0), shape)
    for method in ("asls", "poly"):
        with pytest.raises(MemoryError):
            function(huge, method)
    assert np.array_equal(_native.correct(spectrum, "arpls"), expected)
    # an unknown name is reported before the input is copied
    check_raises(ValueError, INVALID_1D if huge.ndim == 1 else INVALID_2D, function, huge, "bogus")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm")
def test_buffers_are_released_after_success_and_failure():
    y = np.random.default_rng(2).random(1_000_000)
    broken = np.append(y, np.nan)

    def resident_after(rounds):
        for _ in range(rounds):
            _native.correct(y[::-1], "polynomial")
            with pytest.raises(ValueError):
                _native.correct(broken, "polynomial")
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    start = resident_after(1)
    assert resident_after(30) - start < 64 * 2 ** 20  # each leaked copy or result would cost 8 MB
