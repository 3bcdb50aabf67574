"""A walk over a level-5 MATLAB file's data elements before SciPy reads it: SciPy crashes the interpreter on an
element of an unknown type and allocates whatever a damaged header or dimension asks for. Every element's
type must be one the format defines and its size must fit in what holds it; a numeric array's data must be
as long as its dimensions say; compressed elements are inflated within a bound and walked the same way.
"""

from __future__ import annotations

import struct
import zlib
from typing import List, Tuple

from .dataset import DataError

__all__ = ["check"]

_HEADER = 128
_VERSION = struct.Struct("<H")
_SIZES = {1: 1, 2: 1, 3: 2, 4: 2, 5: 4, 6: 4, 7: 4, 9: 8, 12: 8, 13: 8, 16: 1, 17: 2, 18: 4}  # bytes per value
_MATRIX, _COMPRESSED = 14, 15
_NUMERIC_CLASSES = range(6, 16)  # double, single, int8 ... uint64
_COMPLEX, _FLAGS = 0x0800, 0x0EFF  # an array's flags: complex, global and logical bits, and its class
_INFLATED = 1 << 30  # no spectrum file decompresses to more than this


def check(data: bytes) -> None:
    """Refuses a file whose structure SciPy should not be given, naming the byte where it goes wrong."""
    if len(data) < _HEADER:
        raise DataError(f"not a MATLAB file: {len(data)} bytes, fewer than its 128-byte header")
    endian = data[126:128]
    if 0 in data[:4]:  # how SciPy tells a level-4 file, whose header it trusts with any allocation
        raise DataError("not a level-5 MATLAB file: a level-4 file, or a damaged header")
    if endian not in (b"IM", b"MI"):
        raise DataError("not a level-5 MATLAB file: its header's endian mark is not IM or MI")
    order = "<" if endian == b"IM" else ">"
    (version,) = struct.unpack_from(order + "H", data, 124)
    if version == 0x0200:
        raise DataError("a MATLAB v7.3 file: save it with -v7, or read it as HDF5 (h5py)")
    if version != 0x0100:
        raise DataError(f"not a level-5 MATLAB file: version 0x{version:04x} in its header")
    _elements(data, _HEADER, len(data), order, top=True)


def _elements(data: bytes, offset: int, end: int, order: str, top: bool) -> None:
    while offset < end:
        if top and end - offset < 8:
            return  # padding after the last element
        kind, size, body, after = _tag(data, offset, end, order)
        if kind == _COMPRESSED and top:
            inflated = _inflate(data[body : body + size], offset)
            _elements(inflated, 0, len(inflated), order, top=True)
        elif kind == _MATRIX:
            _matrix(data, body, body + size, order)
        elif kind not in _SIZES:
            raise DataError(f"an element of unknown type {kind}", offset, record="byte")
        offset = after


def _tag(data: bytes, offset: int, end: int, order: str) -> Tuple[int, int, int, int]:
    """An element's type, size, where its data start and where the next element starts."""
    if end - offset < 4:
        raise DataError("the file ends inside an element's tag", offset, record="byte")
    (word,) = struct.unpack_from(order + "I", data, offset)
    if word >> 16:  # a small element: size and type share the first four bytes, data the next four
        kind, size = word & 0xFFFF, word >> 16
        if size > 4 or end - offset < 8:
            raise DataError(f"a small element of {size} bytes", offset, record="byte")
        return kind, size, offset + 4, offset + 8
    if end - offset < 8:
        raise DataError("the file ends inside an element's tag", offset, record="byte")
    kind, size = struct.unpack_from(order + "II", data, offset)
    if size > end - offset - 8:
        raise DataError(f"an element of {size} bytes, {end - offset - 8} are left", offset, record="byte")
    return kind, size, offset + 8, offset + 8 + size + (-size % 8 if kind != _COMPRESSED else 0)


def _inflate(compressed: bytes, offset: int) -> bytes:
    inflater = zlib.decompressobj()
    try:
        inflated = inflater.decompress(compressed, _INFLATED)
    except zlib.error as error:
        raise DataError(f"a compressed element that does not inflate: {error}", offset, record="byte") from None
    if inflater.unconsumed_tail:
        raise DataError("a compressed element that inflates to more than 1 GiB", offset, record="byte")
    return inflated


def _matrix(data: bytes, offset: int, end: int, order: str) -> None:
    """An array's flags, dimensions and name, then its parts: a numeric array's data must fill its dimensions;
    other classes' parts (cells, fields, sparse indices) are walked as elements."""
    parts: List[Tuple[int, int, int]] = []
    while offset < end:
        kind, size, body, after = _tag(data, offset, end, order)
        if kind == _MATRIX:
            _matrix(data, body, body + size, order)
        elif kind not in _SIZES:
            raise DataError(f"an element of unknown type {kind}", offset, record="byte")
        parts.append((kind, size, body))
        offset = after
    if len(parts) < 3 or parts[0][:2] != (6, 8) or parts[1][0] != 5 or parts[1][1] < 8 or parts[1][1] % 4:
        raise DataError("an array without its flags and at least two dimensions", offset, record="byte")
    (flags,) = struct.unpack_from(order + "I", data, parts[0][2])
    kind_of_array, imaginary = flags & 0xFF, bool(flags & _COMPLEX)
    if flags & ~_FLAGS or not 1 <= kind_of_array <= 17:
        raise DataError(f"an array with flags 0x{flags:08x}", parts[0][2], record="byte")
    count = 1
    for side in struct.unpack_from(order + f"{parts[1][1] // 4}i", data, parts[1][2]):
        if side < 0:
            raise DataError(f"an array with a dimension of {side}", parts[1][2], record="byte")
        count *= side
    _check_parts(data, parts, kind_of_array, count, order, offset)
    if kind_of_array in _NUMERIC_CLASSES:
        if len(parts) != 4 + imaginary:
            raise DataError(f"a {'complex' if imaginary else 'real'} array of {len(parts) - 3} parts", offset,
                            record="byte")
        for kind, size, body in parts[3:]:
            if size != count * _SIZES[kind]:
                raise DataError(f"an array of {count} values with {size} bytes of type {kind}", body, record="byte")


def _check_parts(data: bytes, parts: List[Tuple[int, int, int]], kind: int, count: int, order: str,
                 offset: int) -> None:
    """That a cell array holds as many arrays as its dimensions say, a structure as many per field, and a
    sparse array as many column starts as it has columns: SciPy allocates by the dimensions first."""
    if kind == 1:
        expected, held = count, len(parts) - 3
    elif kind in (2, 3):
        names = 3 + (kind == 3)  # an object names its class before its fields
        if len(parts) < names + 2:
            raise DataError("a structure without its field names", offset, record="byte")
        (length,) = struct.unpack_from(order + "i", data, parts[names][2])
        fields = parts[names + 1][1] // length if length > 0 else 0
        expected, held = count * fields, len(parts) - names - 2
    elif kind == 5:
        (columns,) = struct.unpack_from(order + "i", data, parts[1][2] + 4)
        if len(parts) < 6 or parts[4][1] != 4 * (columns + 1):
            raise DataError("a sparse array whose column starts do not match its columns", offset, record="byte")
        return
    else:
        return
    if held != expected:
        raise DataError(f"an array of {expected} elements holding {held}", offset, record="byte")
