"""Fuzzes the six functions of quorvel._native with arguments of every kind.

python fuzz/module_fuzzer.py -max_total_time=60 CORPUS_DIR   (any libFuzzer flag works)

Only TypeError, ValueError and MemoryError may escape a call; the input's bytes must be
unchanged afterwards; a success must be a fresh float64 C-contiguous writeable ndarray of
the input's shape, and only for a float64 array of the right dimensionality with a known
method name. Seeds come from fuzz/make_seeds.py, which follows the byte layout of Reader.
"""
from __future__ import annotations

import struct
import sys
import warnings
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, TypeVar, cast

import atheris
import numpy as np

with atheris.instrument_imports():
    import quorvel
    from quorvel import _native

ALLOWED = (TypeError, ValueError, MemoryError)
KNOWN_1D = {"asls", "arpls", "airpls", "rolling_ball", "rolling-ball", "polynomial", "poly"}
KNOWN_2D = KNOWN_1D - {"airpls"}
AWKWARD = [0.0, -0.0, 1.0, -1.0, float("inf"), float("-inf"), float("nan"), 1.7976931348623157e308,
           -1.7976931348623157e308, 2.2250738585072014e-308, 5e-324, 1e308, 1e-12, 0.5, 1e6]
OTHER_DTYPES = [np.dtype(">f8"), np.float32, np.int64, np.int32, np.uint8, np.bool_, np.complex128, np.float16,
                np.longdouble, object]
METHOD_TEXTS = ["asls", "arpls", "airpls", "rolling_ball", "polynomial", "poly", "rolling-ball", "ASLS",
                "ArPlS", "Rolling_Ball", "POLY", "bogus", "", "asls\x00", "\ud800", "asls\ud800",
                "\uff41sls", "rolling ball", "airpls ", "AİRPLS", "polynomia"]


F = TypeVar("F", bound=Callable[..., Any])


def instrumented(function: F) -> F:
    """Coverage feedback for the decoding: the native module itself is not instrumented."""
    return cast(F, atheris.instrument_func(function))


class Name(str):
    pass


class Grid(np.ndarray):
    pass


class Reader:
    """Front-to-back decoding; an exhausted input reads as zeros."""

    def __init__(self, data: bytes) -> None:
        self.data = data
        self.pos = 0

    def u8(self) -> int:
        if self.pos >= len(self.data):
            return 0
        self.pos += 1
        return self.data[self.pos - 1]

    def upto(self, most: int) -> int:
        return self.u8() % (most + 1)

    def pick(self, options: Sequence[Any]) -> Any:
        return options[self.u8() % len(options)]

    def real(self) -> float:
        selector = self.u8()
        if selector < 64:
            return AWKWARD[selector % len(AWKWARD)]
        if selector < 128:
            raw = bytes(self.u8() for _ in range(8))
            return float(struct.unpack("<d", raw)[0])
        return (selector - 160) / 8.0

    def text(self) -> str:
        raw = bytes(self.u8() for _ in range(self.upto(12)))
        return raw.decode("utf-8", errors="surrogateescape")


@instrumented
def values(reader: Reader, count: int) -> np.ndarray:
    """A smooth curve with a peak, a few samples overwritten by decoded doubles."""
    x = np.linspace(0.0, 1.0, count)
    out: np.ndarray = 1.0 + x + reader.u8() * np.exp(-(((x - 0.5) / 0.1) ** 2))
    for _ in range(reader.upto(3) if count else 0):
        at = reader.u8() % count
        out[at] = reader.real()
    return out


@instrumented
def array(reader: Reader, ndim: int) -> Tuple[np.ndarray, np.ndarray]:
    """The array to pass and the buffer that owns its bytes."""
    extents = [reader.upto(12) if reader.u8() % 4 else reader.upto(200) for _ in range(ndim)]
    while int(np.prod(extents)) > 4096:
        extents[extents.index(max(extents))] //= 2
    shape = tuple(extents)
    dtype = np.dtype(np.float64 if reader.u8() < 192 else reader.pick(OTHER_DTYPES))
    count = int(np.prod(shape))
    layout = reader.u8() % 8
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        data = values(reader, count).astype(dtype)
    if layout == 1:  # unaligned: a view one byte into a byte buffer
        owner: np.ndarray = np.zeros(count * dtype.itemsize + 1, np.uint8)
        if dtype.hasobject:
            return data.reshape(shape), data
        view = owner[1:].view(dtype).reshape(shape)
        view[...] = data.reshape(shape)
        return view, owner
    if layout == 2:  # every axis reversed
        owner = data.reshape(shape)
        return owner[(slice(None, None, -1),) * ndim], owner
    if layout == 3 and ndim:  # every other element along the first axis
        owner = np.repeat(data.reshape(shape), 2, axis=0)
        return owner[::2], owner
    if layout == 4 and ndim:  # zero stride along the first axis, read-only
        owner = data.reshape(shape)[:1].copy()
        return np.broadcast_to(owner, shape), owner
    if layout == 5:  # Fortran order
        owner = np.asfortranarray(data.reshape(shape))
        return owner, owner
    if layout == 6:  # read-only
        owner = data.reshape(shape)
        owner.flags.writeable = False
        return owner, owner
    if layout == 7 and ndim == 2:  # transposed view
        owner = data.reshape(shape[::-1]).copy()
        return owner.T, owner
    owner = data.reshape(shape)
    return owner, owner


@instrumented
def argument(reader: Reader, ndim: int) -> Tuple[Any, Optional[np.ndarray]]:
    """The data argument, mostly an array of `ndim` dimensions, and the buffer whose bytes must
    survive the call."""
    kind = reader.u8() % 16
    if kind < 10:
        return array(reader, ndim if reader.u8() < 192 else reader.upto(3))
    if kind == 10:
        return [reader.real() for _ in range(reader.upto(8))], None
    if kind == 11:
        return reader.pick([None, 3, 2.5, "abc", b"\x00" * 16, {"y": 1}, (1.0, 2.0)]), None
    if kind == 12:
        return np.float64(reader.real()), None
    if kind == 13:
        owner = values(reader, 8 * (1 + reader.upto(8)))
        return reader.pick([owner.data, owner.tolist(), owner.tobytes()]), owner
    if kind == 14:
        owner = values(reader, 6 * (1 + reader.upto(6))).reshape(-1, 6)
        subclass = reader.u8() % 3
        if subclass == 0:
            return np.ma.masked_array(owner, mask=owner > 2.0), owner
        if subclass == 1:
            return np.asmatrix(owner), owner
        return owner.view(Grid), owner
    owner = values(reader, 1 + reader.upto(40))
    return np.ma.masked_invalid(owner), owner


@instrumented
def method(reader: Reader) -> Tuple[bool, Any]:
    """Whether a method is passed at all, and which."""
    kind = reader.u8() % 8
    if kind == 0:
        return False, None
    if kind <= 3:
        return True, reader.pick(METHOD_TEXTS)
    if kind == 4:
        return True, Name(reader.pick(METHOD_TEXTS))
    if kind == 5:
        return True, reader.text()
    return True, reader.pick([None, b"asls", 3, 1.5, ["asls"], bytearray(b"poly")])


@instrumented
def call(function: Callable[..., Any], reader: Reader, data: Any, passed: bool, name: Any) -> Tuple[bool, Any]:
    """Calls `function` in one of the ways a caller may; gives whether the way was valid, and the result."""
    first = "y" if function in (_native.correct, _native.baseline) else "data"
    form = reader.u8() % 8
    extra: Dict[str, Any] = {"method": name} if passed else {}
    if form == 1:
        return True, function(**{first: data}, **extra)
    if form == 2:
        return True, function(data, **extra)
    if form == 3:
        return False, function(data, name, reader.real())
    if form == 4:
        return False, function(data, **{reader.pick(["meth", "Method", "data", "y", "x"]): name, first: data})
    if form == 5:
        return False, function(data, method=name, **{first: data})
    if form == 6:
        return False, function(**extra)
    return True, function(data, name) if passed else function(data)


def ascii_lower(text: str) -> str:
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def check_success(function: Callable[..., Any], data: Any, passed: bool, name: Any, result: Any) -> None:
    two_d = function in (_native.correct_2d, _native.baseline_2d)
    assert isinstance(data, np.ndarray) and data.dtype == np.float64 and data.dtype.isnative, "accepted a non-float64"
    assert data.ndim == (2 if two_d else 1), "accepted the wrong dimensionality"
    known = KNOWN_2D if two_d else KNOWN_1D
    assert not passed or (isinstance(name, str) and ascii_lower(name) in known), "accepted an unknown method"
    assert type(result) is np.ndarray and result.dtype == np.float64, "result is not a float64 ndarray"
    assert result.shape == data.shape, "result has another shape"
    assert result.flags.c_contiguous and result.flags.writeable, "result is not C-contiguous and writeable"
    assert not np.may_share_memory(result, data), "result shares memory with the input"


def same_bits(a: np.ndarray, b: np.ndarray) -> bool:
    a, b = np.ascontiguousarray(a), np.ascontiguousarray(b)
    return bool(np.all((a.view(np.uint64) == b.view(np.uint64)) | (np.isnan(a) & np.isnan(b))))


def check_split(function: Callable[..., Any], data: np.ndarray, passed: bool, name: Any, corrected: Any) -> None:
    """correct must be the input minus the baseline, sample by sample."""
    baseline = _native.baseline if function is _native.correct else _native.baseline_2d
    try:
        b = baseline(data, name) if passed else baseline(data)
    except ValueError:
        raise AssertionError("baseline failed where correct succeeded") from None
    with np.errstate(all="ignore"):
        assert same_bits(corrected, np.asarray(data) - b), "correct is not the input minus the baseline"


def snapshot(owner: Optional[np.ndarray]) -> Optional[bytes]:
    if owner is None or owner.dtype.hasobject:
        return None
    return owner.tobytes()


@instrumented
def test_one_input(data: bytes) -> None:
    reader = Reader(data)
    function = reader.pick([_native.correct, _native.baseline, _native.correct_2d, _native.baseline_2d,
                            _native.methods, _native.methods_2d])
    if function in (_native.methods, _native.methods_2d):
        expected = quorvel.methods() if function is _native.methods else quorvel.methods_2d()
        arguments = [reader.real() for _ in range(reader.upto(2))]
        try:
            got = function(*arguments)
        except TypeError:
            return
        assert not arguments, "a method list took arguments"
        assert got == expected and got is not expected, "method list changed or is shared"
        return
    passed_data, owner = argument(reader, 1 if function in (_native.correct, _native.baseline) else 2)
    before = snapshot(owner)
    passed, name = method(reader)
    try:
        valid, result = call(function, reader, passed_data, passed, name)
    except ALLOWED:
        return
    finally:
        assert snapshot(owner) == before, "the call changed its input"
    assert valid, "a call with wrong, missing or extra arguments succeeded"
    check_success(function, passed_data, passed, name, result)
    if function in (_native.correct, _native.correct_2d):
        check_split(function, passed_data, passed, name, result)


def main(argv: List[str]) -> None:
    atheris.Setup(argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main(sys.argv)
