import pickle

import numpy as np
import pytest

import quorvel
from support import INVALID_1D, check_raises

CUBE = np.random.default_rng(3).random((4, 5, 64)) + np.linspace(0.0, 2.0, 64)


@pytest.mark.parametrize("workers", [1, 2, None])
@pytest.mark.parametrize("axis", [-1, 0, 1])
@pytest.mark.parametrize("method", ["asls", "rolling_ball"])
def test_every_spectrum_gets_the_bits_of_a_single_call(workers, axis, method):
    data = np.asfortranarray(CUBE)[:, ::-1, :]
    before = data.copy()
    for many, one in [(quorvel.correct_many, quorvel.correct), (quorvel.baseline_many, quorvel.baseline)]:
        result = many(data, method, axis=axis, workers=workers)
        expected = np.apply_along_axis(one, axis, data, method)
        assert result.tobytes() == expected.tobytes() and result.shape == data.shape
        assert result.flags.c_contiguous and not np.shares_memory(result, data)
    assert np.array_equal(data, before)


@pytest.mark.parametrize("axes", [(-2, -1), (0, 2), (2, 0)])
def test_every_image_gets_the_bits_of_a_single_call(axes):
    result = quorvel.baseline_2d_many(CUBE, "polynomial", axes=axes, workers=2)
    moved = np.moveaxis(CUBE, axes, (-2, -1))
    expected = np.stack([quorvel.baseline_2d(image, "polynomial") for image in moved])
    assert np.moveaxis(result, axes, (-2, -1)).tobytes() == expected.tobytes()


@pytest.mark.parametrize("workers", [1, 2])
def test_the_first_failing_spectrum_is_reported(workers):
    data = CUBE.copy()
    data[2, 3, 0] = np.inf
    data[1, 2, 12] = np.nan
    hint = "; pass mask= with False there to leave such samples out of the fit"
    check_raises(ValueError, "spectrum (1, 2): input contains a non-finite value at index 12" + hint,
                 quorvel.correct_many, data, "asls", workers=workers)
    check_raises(ValueError, "image (0,): input contains a non-finite value at index 13 (row 2, column 3)" + hint,
                 quorvel.correct_2d_many, data[:, :, :4], axes=(0, 1), workers=workers)
    with pytest.raises(quorvel.batch.ItemError) as caught:
        quorvel.baseline_many(data, "poly", workers=workers)
    copy = pickle.loads(pickle.dumps(caught.value))  # crosses process boundaries intact
    assert (copy.noun, copy.index, str(copy)) == ("spectrum", (1, 2), str(caught.value))


@pytest.mark.parametrize("call, error, message", [
    (lambda: quorvel.correct_many(CUBE, "bogus"), ValueError, INVALID_1D),
    (lambda: quorvel.correct_many(CUBE + 1j), TypeError, "data must hold real numbers; got ndarray of dtype complex128 and shape (4, 5, 64)"),
    (lambda: quorvel.correct_many([[1.0], "ab"]), TypeError, None),
    (lambda: quorvel.baseline_many(CUBE, axis=3), ValueError, "axis 3 is out of range for an array of 3 dimensions"),
    (lambda: quorvel.baseline_2d_many(CUBE, axes=(1, -2)), ValueError, "axes (1, -2) name the same axis twice"),
    (lambda: quorvel.correct_2d_many(CUBE, axes=(0, 1, 2)), ValueError, "axes must name two axes, not (0, 1, 2)"),
    (lambda: quorvel.correct_2d_many(CUBE, axes=(0,)), ValueError, "axes must name two axes, not (0,)"),
    (lambda: quorvel.baseline_many(CUBE, workers=0), ValueError, "workers must be a positive integer or None, not 0"),
])
def test_bad_arguments_are_rejected_before_any_work(call, error, message):
    check_raises(error, message, call)
