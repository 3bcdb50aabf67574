"""Hypothesis strategies for the arguments of the native functions."""
import os
import struct

import numpy as np
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp


def tuned(max_examples):
    """Settings of every property test: CI runs a fixed sequence of examples, so a red build reproduces; the
    runs that repeat the suite (the oldest interpreter, the sanitizers) take a share of the examples."""
    share = float(os.environ.get("QUORVEL_EXAMPLES_SHARE", "1"))
    return settings(max_examples=max(10, round(share * max_examples)), deadline=None,
                    derandomize=bool(os.environ.get("CI")), database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


# 2**46 samples take 2**49 bytes, more than a 47-bit address space holds, so no copy of them can be made.
HUGE = 2 ** 46
ONE_D_NAMES = ["asls", "arpls", "airpls", "rolling_ball", "rolling-ball", "polynomial", "poly"]
SPECIAL = [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, -1.7976931348623157e308]
NAN_BITS = [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001, 0xFFFFFFFFFFFFFFFF]
OTHER_DTYPES = [np.float32, np.float16, np.int64, np.int8, np.uint64, np.bool_, np.complex128, object, ">f8",
                np.longdouble, "U3", "M8[s]", [("a", "f8")]]


class Sub(np.ndarray):
    pass


class Name(str):
    pass


class Holder:
    class Thing:
        pass


def mixture(kinds):
    """Draws from one of `kinds`, each equally likely; repeat a strategy to weight it."""
    return st.sampled_from(kinds).flatmap(lambda kind: kind)


def float_bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def as_float64(elements):
    """Arrays of float64 made from bit patterns, so that every NaN payload survives."""
    return lambda shape: hnp.arrays(np.uint64, shape, elements=elements).map(lambda bits: bits.view(np.float64))


USUAL = st.floats(-1e3, 1e3).map(float_bits)
FINITE = mixture([USUAL] * 12 + [st.one_of(st.floats(allow_nan=False, allow_infinity=False),
                                           st.sampled_from(SPECIAL)).map(float_bits)])
ANY = mixture([USUAL] * 12 + [st.one_of(st.floats(), st.sampled_from(SPECIAL + [np.inf, -np.inf])).map(float_bits),
                              st.sampled_from(NAN_BITS), st.integers(0, 2 ** 64 - 1)])


def shapes(ndim, small=False):
    side = {0: 0, 1: 12 if small else 120, 2: 8 if small else 14, 3: 4}[ndim]
    return st.tuples(*[st.integers(0, side)] * ndim)


def values(shape):
    """A C-contiguous float64 array of the given shape; three in four hold finite samples only."""
    return as_float64(mixture([FINITE] * 3 + [ANY]))(shape)


def finite_values(ndim):
    """Finite samples, enough of them for every method: moderate ones, or any up to the largest float64."""
    shape = st.tuples(st.integers(3, 120)) if ndim == 1 else st.tuples(st.integers(3, 12), st.integers(3, 12))
    moderate = st.one_of(st.floats(-1e6, 1e6), st.sampled_from([0.0, -0.0, 5e-324, 1e-300]))
    elements = st.sampled_from([moderate, st.floats(allow_nan=False, allow_infinity=False)])
    return st.tuples(shape, elements).flatmap(lambda kind: as_float64(kind[1].map(float_bits))(kind[0]))


def reversed_view(a):
    flip = (slice(None, None, -1),) * a.ndim + (Ellipsis,)  # the Ellipsis keeps 0-D results arrays
    owner = a[flip].copy()
    return owner[flip], owner


def strided_view(a, step):
    owner = np.zeros(tuple(abs(step) * n + 1 for n in a.shape))
    start = 1 if step > 0 else -2
    view = owner[(slice(start, None, step),) * a.ndim + (Ellipsis,)]
    view[...] = a
    return view, owner


def unaligned_view(a, step=1):
    owner = np.zeros(a.size * step * 8 + 1, np.uint8)
    view = owner[1:].view(np.float64)[::step].reshape(a.shape)
    view[...] = a
    return view, owner


def read_only_view(a):
    owner = a.copy()
    owner.flags.writeable = False
    return owner[...], owner


def itself(a):
    return a, a


LAYOUTS = {
    "c": itself,
    "fortran": lambda a: itself(np.asfortranarray(a)),
    "reversed": reversed_view,
    "strided": lambda a: strided_view(a, 2),
    "negative-strided": lambda a: strided_view(a, -3),
    "unaligned": unaligned_view,
    "unaligned-strided": lambda a: unaligned_view(a, 3),
    "read-only": read_only_view,
    "masked": lambda a: (np.ma.masked_array(a, mask=a > 0), a),
    "subclass": lambda a: (a.view(Sub), a),
    "matrix": lambda a: (a.view(np.matrix), a) if a.ndim == 2 else (a, a),
}


@st.composite
def float64_arrays(draw, ndim):
    """(array, owner): a float64 array in some memory layout, and the buffer its samples live in."""
    shape = draw(shapes(ndim))
    if ndim and draw(st.integers(0, 5)) == 0:
        # stride 0 along the axes whose source extent is 1
        source = draw(values(tuple(draw(st.sampled_from([1, n])) for n in shape)))
        return np.broadcast_to(source, shape), source
    return LAYOUTS[draw(st.sampled_from(sorted(LAYOUTS)))](draw(values(shape)))


@st.composite
def huge_arrays(draw, ndim):
    """Broadcast views far too large to copy that every call must refuse before copying anything: empty
    ones with one huge extent, and ones of another number of dimensions (test_memory copies the others)."""
    wrong = [(2 ** 23, 2 ** 23), (HUGE, 1), (1, HUGE)] if ndim == 1 else [(HUGE,)]
    shape = draw(st.sampled_from([(2 ** 50, 0), (0, 2 ** 50), (2 ** 40, 2 ** 6, 2)] + wrong))
    source = np.full(1, draw(st.sampled_from([1.0, float("nan")])))
    return np.broadcast_to(source.reshape((1,) * len(shape)), shape), source


def other_objects():
    arrays = st.tuples(st.sampled_from(OTHER_DTYPES), st.integers(0, 3).flatmap(lambda n: shapes(n, small=True)))
    return st.one_of(
        arrays.map(lambda kind: itself(np.zeros(kind[1], kind[0]))),
        st.sampled_from([None, [1.0, 2.0, 3.0], (1.0,), 3.0, np.float64(2.0), "y", Holder.Thing(),
                         np.ma.zeros(3, np.float32)]).map(lambda value: (value, None)))


def data_arguments(ndim):
    """(value, owner) for the data argument: float64 arrays, mostly of `ndim` dimensions, other arrays, non-arrays."""
    return mixture([float64_arrays(ndim)] * 6 + [st.integers(0, 3).flatmap(float64_arrays), huge_arrays(ndim),
                                                 other_objects()])


def any_case(text):
    flips = st.lists(st.booleans(), min_size=len(text), max_size=len(text))
    return flips.map(lambda upper: "".join(c.upper() if u else c for c, u in zip(text, upper)))


def method_arguments():
    """Method values of every kind; a missing argument is drawn as the marker `NotImplemented`."""
    names = st.sampled_from(ONE_D_NAMES).flatmap(any_case)
    near = st.tuples(names, st.sampled_from([" {}", "{} ", "{}\0", "{}x", "\u017f{}", "{}\u0130", "\uff41{}"]))
    odd = st.one_of(near.map(lambda p: p[1].format(p[0])), st.text(max_size=14),
                    st.sampled_from(["", "airPLS", "whittaker", "rolling ball", "asls\ud800", "\udfffpoly"]))
    non_str = st.sampled_from([None, b"asls", bytearray(b"poly"), 0, 1.5, ["asls"], Holder.Thing(), Name])
    return mixture([names] * 5 + [names.map(Name), odd, odd.map(Name), non_str, st.just(NotImplemented)])
