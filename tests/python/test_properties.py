"""Every call either returns a well-formed result or fails exactly as documented, whatever it is given."""
import sys
from typing import NamedTuple, Optional, Tuple

import numpy as np
import pytest
from hypothesis import event, given
from hypothesis import strategies as st

from quorvel import _native
from strategies import LAYOUTS, data_arguments, finite_values, method_arguments, tuned
from support import NATIVE_INVALID_1D, NATIVE_INVALID_2D, NATIVE_METHODS, NATIVE_METHODS_2D, bits

PAIRS = {1: (_native.correct, _native.baseline), 2: (_native.correct_2d, _native.baseline_2d)}
NAMES = {"asls": "asls", "arpls": "arpls", "airpls": "airpls", "rolling_ball": "rolling_ball",
         "rolling-ball": "rolling_ball", "polynomial": "polynomial", "poly": "polynomial"}
# Below this magnitude every method works well inside the range of float64 and must succeed; above it a
# method may refuse the input rather than overflow.
TAME = 1e100
OVERFLOW_REFUSALS = ("linear solve failed: ", "invalid parameter y: values too large",
                     "invalid parameter data: values too large")
# arPLS gives every sample well above the threshold a weight of exactly 0; when a single residual is negative
# that can leave fewer weighted samples than a second-difference penalty needs.
ARPLS_REFUSALS = ("linear solve failed: matrix was not positive definite",)


class Outcome(NamedTuple):
    error: Optional[type] = None
    message: Optional[str] = None
    note: Optional[str] = None
    refusals: Tuple[str, ...] = ()  # beginnings of ValueError texts allowed in place of a result


def not_instance(value, target):
    subject = "'None'" if value is None else "'%s' object" % type(value).__qualname__
    return "%s is not an instance of '%s'" % (subject, target)


def is_float64_array(value, ndim):
    if not isinstance(value, np.ndarray) or value.ndim != ndim:
        return False
    dtype = value.dtype
    return dtype.fields is None and dtype.kind == "f" and dtype.itemsize == 8 and dtype.isnative


def parse(method, ndim):
    folded = bytes(b + 32 if 0x41 <= b <= 0x5A else b for b in method.encode("utf-8")).decode("utf-8")
    name = NAMES.get(folded)
    return None if ndim == 2 and name == "airpls" else name


def first_non_finite(y):
    magnitude = np.ascontiguousarray(y).view(np.uint64).ravel() & np.uint64(0x7FFFFFFFFFFFFFFF)
    hits = np.flatnonzero(magnitude >= np.uint64(0x7FF0000000000000))
    return int(hits[0]) if hits.size else None


def too_short(length, stage, minimum):
    return Outcome(ValueError, "input length %d is too short for %s; minimum is %d" % (length, stage, minimum))


def checked_values(y, name):
    """The outcome for a float64 array that passed the argument checks, as 1-D or 2-D."""
    if y.ndim == 1 and y.size == 0:
        return Outcome(ValueError, "input signal must not be empty")
    if y.ndim == 2 and 0 in y.shape:
        return Outcome(ValueError, "invalid parameter %s: must be greater than zero" % ("rows", "cols")[y.shape[0] > 0])
    index = first_non_finite(y)
    if index is not None:
        return Outcome(ValueError, "input contains a non-finite value at index %d" % index)
    shortest, size = min(y.shape), y.size
    if y.ndim == 1 and shortest < 3 and name != "rolling_ball":
        return too_short(size, "polynomial" if name == "polynomial" else "whittaker", 3)
    if y.ndim == 2 and shortest < 3 and name in ("asls", "arpls"):
        return too_short(size, "two_d_whittaker", 9)
    if y.ndim == 2 and name == "polynomial" and size < 9:
        return too_short(size, "two_d_polynomial", 9)
    if y.ndim == 2 and name == "polynomial" and shortest < 3:
        # one or two rows (or columns) leave y**2 constant or zero: the nine terms are dependent
        return Outcome(ValueError, "linear solve failed: singular dense linear system")
    if np.abs(y).max() > TAME:
        return Outcome(refusals=OVERFLOW_REFUSALS)
    return Outcome(refusals=ARPLS_REFUSALS if (y.ndim, name) == (1, "arpls") else ())


def expected_outcome(ndim, data, method):
    if not is_float64_array(data, ndim):
        return Outcome(TypeError, not_instance(data, "ndarray"), "while processing '%s'" % ("y", "data")[ndim - 1])
    method = "asls" if method is NotImplemented else method
    if not isinstance(method, str):
        return Outcome(TypeError, not_instance(method, "str"), "while processing 'method'")
    try:
        name = parse(method, ndim)
    except UnicodeEncodeError:
        return Outcome(UnicodeEncodeError, None, "while processing 'method'")
    if name is None:
        return Outcome(ValueError, NATIVE_INVALID_1D if ndim == 1 else NATIVE_INVALID_2D)
    return checked_values(np.asarray(data), name)


def is_refusal(error, refusals):
    return type(error) is ValueError and len(error.args) == 1 and error.args[0].startswith(refusals)


def check_failure(error, expected):
    if expected.refusals and is_refusal(error, expected.refusals):
        return
    assert type(error) is expected.error, (error, expected)
    if expected.error is UnicodeEncodeError:
        assert error.args[0] == "utf-8"
    else:
        assert error.args == (() if expected.message is None else (expected.message,))
    if sys.version_info >= (3, 11):
        assert getattr(error, "__notes__", None) == (None if expected.note is None else [expected.note])


def check_result(result, data, owner):
    assert type(result) is np.ndarray and result.dtype == np.float64 and result.dtype.isnative
    assert result.shape == data.shape and result.flags.c_contiguous and result.flags.writeable
    assert not np.may_share_memory(result, owner)
    assert np.isfinite(result).all()  # every sample passed the check for non-finite input


def call(function, data, method, by_keyword):
    try:
        if method is NotImplemented:
            return function(data)
        return function(data, method=method) if by_keyword else function(data, method)
    except Exception as error:
        return error


def bits_or_error(outcome):
    return repr(outcome) if isinstance(outcome, Exception) else bits(outcome)


@pytest.mark.parametrize("ndim", [1, 2])
@tuned(300)
@given(arguments=st.data())
def test_every_call_gets_its_documented_outcome(ndim, arguments):
    """Also: neither memory layout, nor the spelling of the method, nor repetition changes the outcome, and the
    input is left untouched."""
    data, owner = arguments.draw(data_arguments(ndim), label="data")
    method = arguments.draw(method_arguments(), label="method")
    by_keyword = arguments.draw(st.booleans(), label="method by keyword")
    before = None if owner is None else owner.tobytes()
    expected = expected_outcome(ndim, data, method)
    event(expected.message or getattr(expected.error, "__name__", "success"))
    results = []
    for function in PAIRS[ndim]:
        outcome = call(function, data, method, by_keyword)
        if isinstance(outcome, Exception):
            check_failure(outcome, expected)
        else:
            assert expected.error is None
            check_result(outcome, data, owner)
            results.append(outcome)
        if expected.error is None:  # the same samples in a fresh C-contiguous array, the method by its own name
            name = parse("asls" if method is NotImplemented else method, ndim)
            plain = call(function, np.array(data, dtype=np.float64), name, not by_keyword)
            assert bits_or_error(plain) == bits_or_error(outcome)
    if owner is not None:
        assert owner.tobytes() == before
    if len(results) == 2:
        corrected, base = results
        with np.errstate(all="ignore"):
            assert bits(corrected) == bits(np.ascontiguousarray(data, dtype=np.float64) - base)


@pytest.mark.parametrize("ndim, method", [(1, m) for m in NATIVE_METHODS] + [(2, m) for m in NATIVE_METHODS_2D])
@tuned(100)
@given(arguments=st.data())
def test_finite_samples_in_any_layout_give_the_same_finite_result_or_a_refusal(ndim, method, arguments):
    values = arguments.draw(finite_values(ndim), label="values")
    given = LAYOUTS[arguments.draw(st.sampled_from(sorted(LAYOUTS)), label="layout")](values)[0]
    for function in PAIRS[ndim]:
        expected = call(function, values, method, False)
        assert bits_or_error(call(function, given, method, False)) == bits_or_error(expected)
        if isinstance(expected, Exception):
            assert is_refusal(expected, OVERFLOW_REFUSALS), expected
        else:
            assert np.isfinite(expected).all(), (function.__name__, expected)
