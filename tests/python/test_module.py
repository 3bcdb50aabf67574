"""The native module's fixed surface (its names, signatures and argument binding), and what the tunable
module makes of the arguments the package hands over."""
import inspect
import pickle
import types

import numpy as np
import pytest

import quorvel
from quorvel import _native, _tunable
from support import INVALID_2D, NATIVE_METHODS, NATIVE_METHODS_2D, check_raises

SIGNATURES = {"baseline": "(y, method='asls')", "correct": "(y, method='asls')", "baseline_2d": "(data, method='asls')",
              "correct_2d": "(data, method='asls')", "methods": "()", "methods_2d": "()"}
FUNCTIONS = [(_native.correct, "y", np.ones(5)), (_native.baseline, "y", np.ones(5)),
             (_native.correct_2d, "data", np.ones((3, 4))), (_native.baseline_2d, "data", np.ones((3, 4)))]


def test_module_attributes():
    assert _native.__all__ == list(SIGNATURES)
    assert _native.__doc__ == ""
    assert {name for name in dir(_native) if not name.startswith("_")} == set(SIGNATURES)


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_function_objects(name):
    function = getattr(_native, name)
    assert isinstance(function, types.BuiltinFunctionType) and function.__name__ == name and function.__doc__ is None
    assert function.__module__ == "quorvel._native" and function.__self__ is _native
    assert str(inspect.signature(function)) == SIGNATURES[name]
    assert getattr(quorvel, name) is function or name not in ("methods", "methods_2d")
    assert all(pickle.loads(pickle.dumps(function, p)) is function for p in range(pickle.HIGHEST_PROTOCOL + 1))


@pytest.mark.parametrize(
    "function, names", [(_native.methods, NATIVE_METHODS), (_native.methods_2d, NATIVE_METHODS_2D)]
)
def test_method_lists(function, names):
    first = function()
    assert type(first) is list and first == names
    first[0] = "changed"
    assert function() == names and function() is not function()


@pytest.mark.parametrize("function, param, data", FUNCTIONS)
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


@pytest.mark.parametrize("call, error, message", [
    (lambda: _tunable.fit_1d(np.ones(5), None, None, "asls", {"bogus": 1}, 0), TypeError,
     "asls takes no parameter 'bogus'"),
    (lambda: _tunable.fit_1d(np.ones(5), None, None, "asls", {"stop": "weights"}, 0), TypeError,
     "asls takes no parameter 'stop'"),
    (lambda: _tunable.fit_1d(np.ones(5), None, None, "airpls", {"stop": "never"}, 0), ValueError,
     "stop is not one of its choices"),
    (lambda: _tunable.fit_1d(np.ones(5), None, None, "asls", {"max_iter": 2.5}, 0), TypeError,
     "an integer parameter must be an int"),
    (lambda: _tunable.fit_2d(np.ones((4, 4)), None, None, "rolling_ball", {"half_window": (1, 2, 3)}, 0), TypeError,
     "half_window must be one value or a pair"),
    (lambda: _tunable.fit_2d(np.ones((4, 4)), None, None, "derpsalsa", None, 0), ValueError, INVALID_2D),
    (lambda: _tunable.fit_1d(np.ones(5), None, np.arange(4.0), "polynomial", None, 0), TypeError,
     "x must be None or a C-contiguous float64 array of one value per sample"),
    (lambda: _tunable.fit_2d(np.ones((4, 4)), None, np.arange(4.0), "polynomial", None, 0), TypeError,
     "grids take x as None or a pair (x along axis 0, z along axis 1)"),
    (lambda: _tunable.fit_2d(np.ones((4, 4)), None, (None, np.array([0.0, 2.0, 1.0, 3.0])), "polynomial", None, 0),
     ValueError, "invalid parameter z: must be strictly increasing or decreasing"),
    (lambda: _tunable.fit_1d(np.ones(4), None, np.array([0.0, 2.0, 1.0, 3.0]), "polynomial", None, 0), ValueError,
     "invalid parameter x: must be strictly increasing or decreasing"),
    (lambda: _tunable.fit_1d(np.ones(3), None, np.array([0.0, np.inf, 1.0]), "polynomial", None, 0), ValueError,
     "invalid parameter x: must be finite"),
    (lambda: _tunable.fit_1d(np.ones(3), None, np.array([0.0, 1e-320, 2e-320]), "polynomial", None, 0), ValueError,
     "invalid parameter x: must span a range whose map onto [-1, 1] is finite"),
])
def test_the_tunable_module_checks_what_the_package_hands_over(call, error, message):
    check_raises(error, message, call)


def test_tunable_failures_carry_the_index_of_the_non_finite_sample():
    y = np.ones(6)
    y[4] = np.nan
    with pytest.raises(ValueError) as info:
        _tunable.fit_1d(y, None, None, "asls", None, 2)
    assert info.value.args == ("input contains a non-finite value at index 4",) and info.value.index == 4
    with pytest.raises(ValueError) as info:
        _tunable.fit_1d(np.ones(2), None, None, "asls", None, 0)
    assert info.value.index is None
    grid = np.ones((3, 4))
    grid[2, 1] = np.inf
    out = np.empty((2, 12))
    failure = _tunable.fit_2d_many(out, None, np.stack([np.ones(12), grid.ravel()]), None, None, "arpls", None, 0, 3, 4)
    assert failure == (1, "input contains a non-finite value at index 9", 9)
