import numpy as np
import pytest

from quorvel import _native
from support import INVALID_1D, INVALID_2D, METHODS, METHODS_2D, check_raises

SIGNAL = np.array([1.0, 4.0, 2.0, 3.0, 5.0])
GRID = np.ones((3, 4))
SWAPPED = np.dtype(np.float64).newbyteorder()
ONE_D = [(_native.correct, "y", SIGNAL), (_native.baseline, "y", SIGNAL)]
TWO_D = [(_native.correct_2d, "data", GRID), (_native.baseline_2d, "data", GRID)]


class Holder:
    class Thing:
        pass


class Name(str):
    pass


@pytest.mark.parametrize("function, param, data", ONE_D + TWO_D)
@pytest.mark.parametrize("call, message", [
    (lambda f, p, d: f(), "{f}() missing 1 required positional argument: '{p}'"),
    (lambda f, p, d: f(method="asls"), "{f}() missing 1 required positional argument: '{p}'"),
    (lambda f, p, d: f(d, "asls", "asls"), "{f}() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda f, p, d: f(d, meth="asls"), "{f}() got an unexpected keyword argument 'meth'"),
    (lambda f, p, d: f(d, **{p: d}), "{f}() got multiple values for argument '{p}'"),
    (lambda f, p, d: f(d, "asls", method="asls"), "{f}() got multiple values for argument 'method'"),
])
def test_argument_binding(function, param, data, call, message):
    check_raises(TypeError, message.format(f=function.__name__, p=param), call, function, param, data)


# The wrong dtypes, byte order and dimensions for each kind of input, and non-arrays.
WRONG_ARRAYS = {"y": [np.zeros(3, np.float32), np.zeros(3, SWAPPED), np.zeros((3, 1))],
                "data": [np.zeros((2, 2), SWAPPED), np.zeros(5), np.zeros((2, 2, 2))]}
NOT_ARRAYS = [(None, "'None'"), (Holder.Thing(), "'Holder.Thing' object"),
              (np.ma.zeros(3, np.float32), "'MaskedArray' object")]


@pytest.mark.parametrize("function, param, data", ONE_D + TWO_D)
def test_type_errors_name_the_argument_in_a_note(function, param, data):
    # the data is checked before the method
    for value, subject in NOT_ARRAYS + [(array, "'ndarray' object") for array in WRONG_ARRAYS[param]]:
        check_raises(TypeError, subject + " is not an instance of 'ndarray'", function, value, 5,
                     note="while processing '%s'" % param)
    note = "while processing 'method'"
    check_raises(TypeError, "'bytes' object is not an instance of 'str'", function, data, b"asls", note=note)
    check_raises(TypeError, "'None' is not an instance of 'str'", function, data, method=None, note=note)
    check_raises(UnicodeEncodeError, None, function, data, "asls\ud800", note=note)


@pytest.mark.parametrize("text, canonical", [
    ("ASLS", "asls"), ("ArPLS", "arpls"), ("AIRpls", "airpls"), ("Rolling_Ball", "rolling_ball"),
    ("ROLLING-BALL", "rolling_ball"), ("Poly", "polynomial"), (Name("PolyNomial"), "polynomial"),
])
def test_method_names_fold_case_and_aliases(spectrum, text, canonical):
    assert np.array_equal(_native.baseline(spectrum, text), _native.baseline(spectrum, canonical))
    assert np.array_equal(_native.correct(y=spectrum, method=text), _native.correct(spectrum, canonical))
    if canonical in METHODS_2D:
        grid = spectrum.reshape(10, 20)
        assert np.array_equal(_native.baseline_2d(grid, text), _native.baseline_2d(grid, canonical))


def test_default_method_is_asls(spectrum):
    assert np.array_equal(_native.baseline(spectrum), _native.baseline(spectrum, "asls"))
    grid = spectrum.reshape(10, 20)
    assert np.array_equal(_native.correct_2d(grid), _native.correct_2d(data=grid, method="asls"))


@pytest.mark.parametrize("function, param, data", ONE_D + TWO_D)
@pytest.mark.parametrize("text", ["", "asls ", "asls\0", "asl\u017f", "\uff41sls"])
def test_unknown_method_names(function, param, data, text):
    invalid = INVALID_1D if param == "y" else INVALID_2D
    check_raises(ValueError, invalid, function, data, text)
    # the name is judged before the values are looked at
    for bad in (np.zeros((0,) * data.ndim), np.full(data.shape, np.nan)):
        check_raises(ValueError, invalid, function, bad, text)


@pytest.mark.parametrize("function, param, data", ONE_D)
@pytest.mark.parametrize("method", METHODS)
def test_signal_errors(function, param, data, method):
    check_raises(ValueError, "input signal must not be empty", function, np.array([]), method)
    signalling_nan = np.array([0x7FF0000000000001], np.uint64).view(np.float64)[0]
    for values, index in [([1.0, np.nan], 1), ([1.0, 2.0, 3.0, -np.inf], 3), ([np.nan, np.inf, 1.0], 0),
                          ([0.0, -0.0, 2.0, -np.nan], 3), ([1.0, 2.0, signalling_nan, 3.0], 2)]:
        check_raises(ValueError, "input contains a non-finite value at index %d" % index, function,
                     np.array(values), method)
    stage = {"rolling_ball": None, "polynomial": "polynomial"}.get(method, "whittaker")
    for n in (1, 2) if stage else ():
        message = "input length %d is too short for %s; minimum is 3" % (n, stage)
        check_raises(ValueError, message, function, np.arange(1.0, n + 1.0), method)


@pytest.mark.parametrize("function, param, data", TWO_D)
@pytest.mark.parametrize("method", METHODS_2D)
@pytest.mark.parametrize("grid, message", [
    (np.zeros((0, 0)), "invalid parameter rows: must be greater than zero"),
    (np.zeros((3, 0)), "invalid parameter cols: must be greater than zero"),
    (np.array([[0.0, 1.0, np.inf], [np.nan, 4.0, 5.0]]), "input contains a non-finite value at index 2"),
])
def test_grid_errors(function, param, data, method, grid, message):
    check_raises(ValueError, message, function, grid, method)
