"""The native module's fixed surface: its names, signatures and argument binding."""
import inspect
import pickle
import types

import numpy as np
import pytest

import quorvel
from quorvel import _native
from support import METHODS, METHODS_2D, check_raises

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


@pytest.mark.parametrize("function, names", [(_native.methods, METHODS), (_native.methods_2d, METHODS_2D)])
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
