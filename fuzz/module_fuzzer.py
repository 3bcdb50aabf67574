"""Fuzzes the package's front door (fit, baseline, correct, their 2-D and batch forms), and through it
quorvel._native and quorvel._tunable, with arguments, keywords and masks of every kind:
python fuzz/module_fuzzer.py CORPUS_DIR (any libFuzzer flag works). Only TypeError, ValueError and
MemoryError may escape, the input is never changed, and a success passes the checks below. Seeds come
from fuzz/make_seeds.py, which follows the byte layout of Reader.
"""
from __future__ import annotations

import struct
import sys
import warnings
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, cast

import atheris
import numpy as np

with atheris.instrument_imports():
    import quorvel
    from quorvel import parameters

ALLOWED = (TypeError, ValueError, MemoryError)
AWKWARD = [0.0, -0.0, 1.0, -1.0, float("inf"), float("-inf"), float("nan"), 1.7976931348623157e308,
           -1.7976931348623157e308, 2.2250738585072014e-308, 5e-324, 1e308, 1e-12, 0.5, 1e6]
OTHER_DTYPES = [np.dtype(">f8"), np.float32, np.int64, np.int32, np.uint8, np.bool_, np.complex128, np.float16,
                np.longdouble, object]
METHOD_TEXTS = ["asls", "arpls", "airpls", "rolling_ball", "polynomial", "poly", "rolling-ball", "ASLS",
                "ArPlS", "Rolling_Ball", "POLY", "bogus", "", "asls\x00", "\ud800", "asls\ud800",
                "\uff41sls", "rolling ball", "airpls ", "AİRPLS", "polynomia"]
# Each front-door function with the one that gives its baseline; the batch functions with their item's.
FRONT = {quorvel.correct: quorvel.baseline, quorvel.baseline: quorvel.baseline, quorvel.fit: quorvel.baseline,
         quorvel.correct_2d: quorvel.baseline_2d, quorvel.baseline_2d: quorvel.baseline_2d,
         quorvel.fit_2d: quorvel.baseline_2d}
BATCH = {quorvel.correct_many: quorvel.correct, quorvel.baseline_many: quorvel.baseline,
         quorvel.correct_2d_many: quorvel.correct_2d, quorvel.baseline_2d_many: quorvel.baseline_2d}
FUNCTIONS: List[Callable[..., Any]] = [*FRONT, *BATCH]
KEYWORDS = {ndim: sorted({p.name for ps in parameters.methods_taking(ndim).values() for p in ps} | {"lambda"})
            for ndim in (1, 2)}


# The decoding is instrumented for coverage feedback; the native modules cannot be.
instrumented = atheris.instrument_func


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
    layout = reader.u8() % 7
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
    if layout == 3 and ndim:  # zero stride along the first axis, read-only
        owner = data.reshape(shape)[:1].copy()
        return np.broadcast_to(owner, shape), owner
    if layout == 4:  # Fortran order
        owner = np.asfortranarray(data.reshape(shape))
        return owner, owner
    if layout == 5:  # read-only
        owner = data.reshape(shape)
        owner.flags.writeable = False
        return owner, owner
    owner = data.reshape(shape)
    return owner, owner


@instrumented
def argument(reader: Reader, ndim: int) -> Tuple[Any, Optional[np.ndarray]]:
    """The data argument, mostly an array of `ndim` dimensions, and the buffer that owns its bytes."""
    kind = reader.u8() % 16
    if kind < 10:
        return array(reader, ndim if reader.u8() < 192 else reader.upto(3))
    if kind == 10:
        return [reader.real() for _ in range(reader.upto(8))], None
    if kind == 11:
        return reader.pick([None, 3, 2.5, "abc", b"\x00" * 16, {"y": 1}, (1.0, 2.0), np.float64(1.0)]), None
    owner = values(reader, 6 * (1 + reader.upto(6))).reshape(-1, 6)
    return [np.ma.masked_invalid(owner), np.asmatrix(owner), owner.view(Grid), owner.data][kind - 12], owner


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
def keywords(reader: Reader, ndim: int) -> Dict[str, Any]:
    """Up to three parameters by keyword, of any name, type and value."""
    chosen: Dict[str, Any] = {}
    for _ in range(reader.upto(3)):
        kind = reader.u8() % 5
        if kind == 4:  # arrays for the parameters of one value per sample, of any length
            value: Any = values(reader, reader.upto(40))
        elif kind == 1:
            value = reader.upto(40) - 4
        elif kind == 2:
            value = reader.pick(["weights", "residuals", "cg", "multigrid", "CG", "", None, True, 10**30, np.int32(3)])
        elif kind == 3:
            value = (reader.real(), reader.upto(12))
        else:
            value = reader.real()
        chosen[reader.pick(KEYWORDS[ndim])] = value
    return chosen


@instrumented
def mask_for(reader: Reader, shape: Tuple[int, ...]) -> Optional[Any]:
    """None, or a mask of the data's shape, or one of another shape or type."""
    kind = reader.u8() % 8
    if kind < 3:
        return None
    flags = np.array([reader.u8() % 4 != 0 for _ in range(int(np.prod(shape)))], bool).reshape(shape)
    if kind == 6:
        return flags.astype(np.int8) if reader.u8() % 2 else flags.ravel()[:-1]
    return flags.tolist() if kind == 7 else flags


def same_bits(a: np.ndarray, b: np.ndarray) -> bool:
    a, b = np.ascontiguousarray(a), np.ascontiguousarray(b)
    return a.shape == b.shape and bool(np.all((a.view(np.uint64) == b.view(np.uint64)) | (np.isnan(a) & np.isnan(b))))


def check_array(result: Any, shape: Tuple[int, ...], data: Any) -> None:
    assert type(result) is np.ndarray and result.dtype == np.float64, "result is not a float64 ndarray"
    assert result.shape == shape, "result has another shape"
    assert result.flags.c_contiguous and result.flags.writeable, "result is not C-contiguous and writeable"
    assert not np.may_share_memory(result, data), "result shares memory with the input"


def difference(data: Any, baseline: np.ndarray) -> np.ndarray:
    with np.errstate(all="ignore"):
        return cast(np.ndarray, np.asarray(data).astype(np.float64) - baseline)


def attempt(owner: Optional[np.ndarray], thunk: Callable[[], Any]) -> Tuple[bool, Any]:
    """Whether the call succeeded, and its result or allowed error; the input's bytes must survive it."""
    before = None if owner is None or owner.dtype.hasobject else owner.tobytes()
    try:
        return True, thunk()
    except ALLOWED as error:
        return False, error
    finally:
        assert before is None or owner is None or owner.tobytes() == before, "the call changed its input"


def front_door(function: Callable[..., Any], reader: Reader) -> None:
    ndim = 2 if function in (quorvel.correct_2d, quorvel.baseline_2d, quorvel.fit_2d) else 1
    data, owner = argument(reader, ndim)
    passed, name = method(reader)
    try:
        shape = np.shape(data)
    except ValueError:  # ragged
        shape = (0,)
    options = {"mask": mask_for(reader, shape), **keywords(reader, ndim)}
    args = (data, name) if passed else (data,)
    succeeded, result = attempt(owner, lambda: function(*args, **options))
    if not succeeded:
        return
    expected = np.asarray(data).shape
    baseline = FRONT[function](*args, **options)
    check_array(baseline, expected, data)
    assert np.isfinite(baseline).all(), "a baseline that is not finite was returned"
    if function in (quorvel.fit, quorvel.fit_2d):
        assert same_bits(result.baseline, baseline), "fit and baseline differ"
        result = result.corrected
    check_array(result, expected, data)
    if function not in (quorvel.baseline, quorvel.baseline_2d):
        assert same_bits(result, difference(data, baseline)), "corrected is not the input minus the baseline"
    flags = options["mask"]
    if isinstance(flags, np.ndarray) and flags.dtype == np.bool_ and not flags.all():
        other = np.asarray(data).astype(np.float64)
        other[~flags] = reader.real()
        assert same_bits(FRONT[function](other, *args[1:], **options), baseline), \
            "a masked-out value changed the baseline"


def batch(function: Callable[..., Any], reader: Reader) -> None:
    ndim = 2 if function in (quorvel.correct_2d_many, quorvel.baseline_2d_many) else 1
    data, owner = array(reader, ndim + 1)
    name = reader.pick(METHOD_TEXTS[:7])
    options = {"mask": mask_for(reader, data.shape), "workers": reader.pick([None, 1, 2, 0]), **keywords(reader, ndim)}
    succeeded, result = attempt(owner, lambda: function(data, name, **options))
    single = BATCH[function]
    if not succeeded:
        index = getattr(result, "index", None)
        assert index is None or not attempt(None, lambda: single(data[index], name, **one(options, index)))[0], \
            "a batch failed at an item that succeeds alone"
        return
    check_array(result, data.shape, data)
    for index in np.ndindex(data.shape[:1]):
        assert same_bits(result[index], single(data[index], name, **one(options, index))), \
            "a batch item differs from its own call"


def one(options: Dict[str, Any], index: Tuple[int, ...]) -> Dict[str, Any]:
    """The options of one item of a batch."""
    single = {key: value for key, value in options.items() if key != "workers"}
    if single["mask"] is not None:
        single["mask"] = np.asarray(single["mask"])[index]
    return single


@instrumented
def test_one_input(data: bytes) -> None:
    reader = Reader(data)
    function = reader.pick(FUNCTIONS)
    (front_door if function in FRONT else batch)(function, reader)


def main(argv: List[str]) -> None:
    atheris.Setup(argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main(sys.argv)
