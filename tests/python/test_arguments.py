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
    (lambda f, p, d: f(d, "asls", 1, 2), "{f}() takes from 1 to 2 positional arguments but 4 were given"),
    (lambda f, p, d: f(d, meth="asls"), "{f}() got an unexpected keyword argument 'meth'"),
    (lambda f, p, d: f(d, **{p: d}), "{f}() got multiple values for argument '{p}'"),
    (lambda f, p, d: f(d, "asls", method="asls"), "{f}() got multiple values for argument 'method'"),
])
def test_argument_binding(function, param, data, call, message):
    check_raises(TypeError, message.format(f=function.__name__, p=param), call, function, param, data)


NOT_ARRAYS = [([1.0, 2.0], "'list' object"), ((1.0, 2.0), "'tuple' object"), (None, "'None'"),
              (np.float64(1.0), "'float64' object"), (Holder.Thing(), "'Holder.Thing' object"),
              (np.ma.zeros(3, np.float32), "'MaskedArray' object")]
WRONG_ARRAYS = {
    "y": [np.zeros(3, np.float32), np.zeros(3, np.int64), np.zeros(3, SWAPPED), np.zeros(3, np.complex128),
          np.zeros((3, 1)), np.array(1.0), GRID],
    "data": [np.zeros((2, 2), np.float32), np.zeros((2, 2), SWAPPED), np.zeros(5), np.zeros((2, 2, 2))],
}


@pytest.mark.parametrize("function, param, data", ONE_D + TWO_D)
def test_data_must_be_a_float64_array_of_its_ndim(function, param, data):
    cases = NOT_ARRAYS + [(array, "'ndarray' object") for array in WRONG_ARRAYS[param]]
    for value, subject in cases:
        check_raises(TypeError, subject + " is not an instance of 'ndarray'", function, value, 5,
                     note="while processing '%s'" % param)


@pytest.mark.parametrize("function, param, data", ONE_D + TWO_D)
def test_method_must_be_str(function, param, data):
    note = "while processing 'method'"
    for method, subject in [(5, "'int' object"), (b"asls", "'bytes' object"), (None, "'None'")]:
        check_raises(TypeError, subject + " is not an instance of 'str'", function, data, method, note=note)
        check_raises(TypeError, subject + " is not an instance of 'str'", function, data, method=method, note=note)
    check_raises(UnicodeEncodeError, None, function, data, "asls\ud800", note=note)


@pytest.mark.parametrize("text, canonical", [
    ("ASLS", "asls"), ("ArPLS", "arpls"), ("AIRpls", "airpls"), ("Rolling_Ball", "rolling_ball"),
    ("ROLLING-BALL", "rolling_ball"), ("Poly", "polynomial"), (Name("PolyNomial"), "polynomial"),
])
def test_method_names_fold_case_and_aliases(spectrum, text, canonical):
    assert np.array_equal(_native.baseline(spectrum, text), _native.baseline(spectrum, canonical))
    assert np.array_equal(_native.correct(y=spectrum, method=text), _native.correct(spectrum, canonical))


def test_each_name_selects_its_own_method(spectrum):
    results = [_native.baseline(spectrum, name) for name in METHODS]
    assert np.array_equal(_native.baseline(spectrum), results[0])
    assert all(not np.array_equal(a, b) for i, a in enumerate(results) for b in results[i + 1:])


@pytest.mark.parametrize("function, param, data", ONE_D + TWO_D)
@pytest.mark.parametrize("text", ["", " asls", "asls ", "asls\0", "asl\u017f", "\uff41sls", "whittaker"])
def test_unknown_method_names(function, param, data, text):
    invalid = INVALID_1D if param == "y" else INVALID_2D
    check_raises(ValueError, invalid, function, data, text)
    # the name is judged before the values are looked at
    for bad in (np.zeros((0,) * data.ndim), np.full(data.shape, np.nan)):
        check_raises(ValueError, invalid, function, bad, text)
    if param == "data":
        check_raises(ValueError, INVALID_2D, function, data, "AirPLS")


@pytest.mark.parametrize("function, param, data", ONE_D)
@pytest.mark.parametrize("method", METHODS)
def test_signal_errors(function, param, data, method):
    check_raises(ValueError, "input signal must not be empty", function, np.array([]), method)
    signalling_nan = np.array([0x7FF0000000000001], np.uint64).view(np.float64)[0]
    for values, index in [([np.inf], 0), ([1.0, np.nan], 1), ([1.0, 2.0, 3.0, 4.0, -np.inf], 4),
                          ([np.nan, np.inf, 1.0], 0), ([0.0, -0.0, 2.0, -np.nan], 3),
                          ([1.0, 2.0, signalling_nan, 3.0], 2)]:
        message = "input contains a non-finite value at index %d" % index
        check_raises(ValueError, message, function, np.array(values), method)
    stage = {"rolling_ball": None, "polynomial": "polynomial"}.get(method, "whittaker")
    for n in (1, 2) if stage else ():
        message = "input length %d is too short for %s; minimum is 3" % (n, stage)
        check_raises(ValueError, message, function, np.arange(1.0, n + 1.0), method)


@pytest.mark.parametrize("function, param, data", TWO_D)
@pytest.mark.parametrize("text, canonical", [(None, "asls"), ("ARPLS", "arpls"), ("Rolling-Ball", "rolling_ball"),
                                             ("rolling_ball", "rolling_ball"), (Name("POLY"), "polynomial")])
def test_valid_grids_report_pending_methods(function, param, data, text, canonical):
    with pytest.raises(ValueError) as info:
        function(data) if text is None else function(data, method=text)
    assert str(info.value).startswith("two-dimensional %s is not supported yet: " % canonical)


NAN_AT_6 = np.arange(12.0).reshape(3, 4)
NAN_AT_6[1, 2] = np.nan
NAN_AT_2 = np.array([[0.0, 1.0, np.inf], [np.nan, 4.0, 5.0]])


@pytest.mark.parametrize("function, param, data", TWO_D)
@pytest.mark.parametrize("method", METHODS_2D)
@pytest.mark.parametrize("grid, message", [
    (np.zeros((0, 3)), "invalid parameter rows: must be greater than zero"),
    (np.zeros((0, 0)), "invalid parameter rows: must be greater than zero"),
    (np.zeros((3, 0)), "invalid parameter cols: must be greater than zero"),
    (NAN_AT_6, "input contains a non-finite value at index 6"),
    (NAN_AT_2, "input contains a non-finite value at index 2"),
    (NAN_AT_2[1:], "input contains a non-finite value at index 0"),
])
def test_grid_errors(function, param, data, method, grid, message):
    check_raises(ValueError, message, function, grid, method)
