"""Every method of the catalogue, with parameters drawn from the ranges the catalogue accepts, on tame
finite data: a finite result of the data's shape or a refusal, with the same bits through every front."""
import math

import numpy as np
from hypothesis import event, given
from hypothesis import strategies as st

import quorvel
from quorvel import _tunable
from strategies import tuned
from support import bits

CATALOGUE = _tunable.catalogue()
METHODS = {ndim: [row for row in CATALOGUE if row["dims"][ndim] is not None] for ndim in (1, 2)}
SPAN = 60  # integers reach at most this far above their lower bound, so that every fit stays quick
FRONTS = {1: (quorvel.correct, quorvel.baseline, quorvel.correct_many), 2: (quorvel.correct_2d, quorvel.baseline_2d,
                                                                             quorvel.correct_2d_many)}


def in_range(param):
    """Values the catalogue accepts for `param`: log-uniform for reals without an upper bound near 1."""
    (low, high), (open_low, open_high) = param["range"], param["open"]
    if param["kind"] == "choice":
        return st.sampled_from(param["choices"])
    if param["kind"] == "flag":
        return st.booleans()
    if param["kind"] == "integer":
        return st.integers(int(low) + open_low, int(min(high, low + SPAN)) - (open_high and high <= low + SPAN))
    if high <= 1.0:
        return st.floats(low, high, exclude_min=open_low, exclude_max=open_high)
    return st.floats(-9.0, 12.0).map(lambda exponent: max(10.0 ** exponent, low))


def parameter_sets(row, ndim):
    draws = {}
    for param in row["dims"][ndim]["parameters"]:
        if param["kind"] in ("samples", "points"):
            continue  # arrays: tests of their own
        one = in_range(param)
        draws[param["name"]] = st.one_of(one, st.tuples(one, one)) if param["per_axis"] else one
    return st.fixed_dictionaries({}, optional=draws)


@st.composite
def calls(draw, ndim):
    row = draw(st.sampled_from(METHODS[ndim]))
    shape = (draw(st.integers(4, 80)),) if ndim == 1 else tuple(draw(st.integers(3, 12)) for _ in range(2))
    data = draw(st.lists(st.floats(-1e6, 1e6), min_size=math.prod(shape), max_size=math.prod(shape)))
    return row["name"], np.reshape(data, shape), draw(parameter_sets(row, ndim))


def run(function, *args, **keywords):
    try:
        return function(*args, **keywords)
    except ValueError as refusal:
        return refusal


@tuned(300)
@given(st.sampled_from([1, 2]).flatmap(lambda ndim: calls(ndim)))
def test_any_method_with_parameters_in_range_gives_a_finite_result_or_a_refusal_alike_everywhere(call):
    method, data, params = call
    correct, baseline, many = FRONTS[data.ndim]
    corrected = run(correct, data, method, **params)
    event(f"{method} {'refused' if isinstance(corrected, ValueError) else 'fitted'}")
    if isinstance(corrected, ValueError):
        assert str(run(many, data[None], method, **params)).endswith(str(corrected))
        return
    assert corrected.shape == data.shape and np.isfinite(corrected).all()
    fitted = baseline(data, method, **params)
    assert bits(corrected) == bits(data - fitted)
    assert bits(many(data[None], method, **params)[0]) == bits(corrected)
    assert bits(correct(data, method, mask=np.ones(data.shape, bool), **params)) == bits(corrected)
