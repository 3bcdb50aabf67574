"""out=: the caller's array receives the result, with the bits of a fresh one; anything unsafe is refused."""
import numpy as np
import pytest

import quorvel
from quorvel import batch
from support import bits, check_raises, make_spectrum

Y = make_spectrum(64)
IMAGE = np.add.outer(np.linspace(0.0, 1.0, 9), np.linspace(0.0, 2.0, 11)) + np.eye(9, 11)
STACK = np.stack([make_spectrum(64, seed) for seed in range(5)])
CALLS = {
    "correct": (quorvel.correct, Y, {}),
    "baseline": (quorvel.baseline, Y, {}),
    "correct_2d": (quorvel.correct_2d, IMAGE, {}),
    "baseline_2d": (quorvel.baseline_2d, IMAGE, {}),
    "correct_many": (batch.correct_many, STACK, {}),
    "baseline_many axis 0": (batch.baseline_many, STACK.T.copy(), {"axis": 0}),
    "correct_2d_many": (batch.correct_2d_many, np.stack([IMAGE, IMAGE[::-1]]), {}),
    "baseline_2d_many": (batch.baseline_2d_many, np.stack([IMAGE, 2 * IMAGE]), {"axes": (1, 2)}),
}


@pytest.mark.parametrize("method", ["asls", "polynomial", "rolling_ball"])
@pytest.mark.parametrize("call", CALLS)
def test_out_receives_the_result_with_its_bits(call, method):
    function, data, keywords = CALLS[call]
    out = np.full(data.shape, np.nan)
    returned = function(data, method, out=out, **keywords)
    assert returned is out
    assert bits(out) == bits(function(data, method, **keywords))


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("make_out, error, message", [
    (lambda data: np.zeros(data.shape, np.float32), TypeError, None),
    (lambda data: list(np.zeros(data.shape)), TypeError, "out must be a numpy.ndarray, not list"),
    (lambda data: np.zeros(data.shape + (1,)), ValueError, None),
    (lambda data: np.zeros(data.shape[::-1] + (2,))[..., 0].T, ValueError,
     "out must be a C-contiguous, aligned and writeable array"),
    (lambda data: np.broadcast_to(np.zeros(1), data.shape), ValueError,
     "out must be a C-contiguous, aligned and writeable array"),
    (lambda data: data, ValueError, "out must not share memory with the input, its mask or positions"),
])
def test_a_wrong_out_is_refused_and_nothing_is_written(call, make_out, error, message):
    function, data, keywords = CALLS[call]
    data = data.copy()
    before = bits(data)
    check_raises(error, message, function, data, "polynomial", out=make_out(data), **keywords)
    assert bits(data) == before


def test_out_may_not_overlap_the_mask_or_x_either():
    x = np.arange(Y.size, dtype=float)
    flags = np.ones(8 * Y.size, bool)
    message = "out must not share memory with the input, its mask or positions"
    check_raises(ValueError, message, quorvel.correct, Y, "polynomial", x=x, out=x)
    check_raises(ValueError, message, quorvel.correct, Y, "asls", mask=flags[: Y.size], out=flags.view(np.float64))


def test_a_fit_that_fails_into_out_raises_and_leaves_the_input_alone():
    y = Y.copy()
    y[3] = np.nan
    with pytest.raises(ValueError, match="non-finite value at index 3"):
        quorvel.correct(y, "asls", out=np.empty_like(y))
    assert np.isnan(y[3]) and bits(y[4:]) == bits(Y[4:])
