"""PerkinElmer ``.sp`` files (the block format of its Spectrum software): one spectrum, little-endian.

After the magic ``PEPE`` and a 40-byte description the file is a chain of blocks, each an id and a byte
size; the data-set block holds members in the same form, each a type code and a value. The spectrum is
the members' point count of doubles on an evenly spaced axis from the abscissa range's start by the
interval. Every size is checked against what holds it before anything is read.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, Tuple

import numpy as np

from . import bounded
from .dataset import Array, DataError

__all__ = ["MAGIC", "Sp", "read"]

MAGIC = b"PEPE"
_START = 4 + 40  # the magic, then a description
_ENTRY = struct.Struct("<hi")  # a block's or member's id and byte size
_DATA_SET = 120
_RANGE, _ORDINATES, _INTERVAL, _POINTS, _VALUES = -29838, -29837, -29836, -29835, -29828
_X_LABEL, _Y_LABEL = -29833, -29832
_TYPES = {_RANGE: 29981, _ORDINATES: 29981, _INTERVAL: 29979, _POINTS: 29995, _VALUES: 29974, _X_LABEL: 29987,
          _Y_LABEL: 29987}
_NAMES = {_RANGE: "abscissa range", _ORDINATES: "ordinate range", _INTERVAL: "interval", _POINTS: "point count",
          _VALUES: "data", _X_LABEL: "x label", _Y_LABEL: "y label"}
_PAIR, _DOUBLE, _INT = struct.Struct("<dd"), struct.Struct("<d"), struct.Struct("<i")
_SHORT = struct.Struct("<h")  # a type code, or a text's length


@dataclass(frozen=True)
class Sp:
    x: Array
    y: Array
    x_units: str
    y_units: str
    warnings: Tuple[str, ...]


def read(path: Path) -> Sp:
    """The spectrum of a PerkinElmer ``.sp`` file; DataError names the block or member that is wrong."""
    data = path.read_bytes()
    if not data.startswith(MAGIC):
        raise DataError("not a PerkinElmer block file: it does not start with PEPE")
    begin, end = _data_set(data)
    members = _members(data, begin, end)
    missing = [_NAMES[key] for key in (_RANGE, _INTERVAL, _POINTS, _VALUES) if key not in members]
    if missing:
        raise DataError(f"the data-set block has no {', '.join(missing)} member")
    start, stop = bounded.unpack(data, _PAIR, members[_RANGE], "the abscissa range")
    (interval,) = bounded.unpack(data, _DOUBLE, members[_INTERVAL], "the interval")
    (points,) = bounded.unpack(data, _INT, members[_POINTS], "the point count")
    (size,) = bounded.unpack(data, _INT, members[_VALUES], "the data")
    if points < 1 or size != 8 * points:
        raise DataError(f"the data member holds {size} bytes for {points} points (8 bytes each)")
    y = bounded.array(data, "<f8", points, members[_VALUES] + 4, "the data")
    if not np.isfinite([start, stop, interval]).all() or \
            abs(start + (points - 1) * interval - stop) > 0.5 * abs(interval):
        raise DataError(f"the abscissa range {start:g} to {stop:g} does not hold {points} points {interval:g} apart")
    x = np.linspace(start, stop, points)
    return Sp(x, y, _label(data, members, _X_LABEL), _label(data, members, _Y_LABEL), _check(data, members, y))


def _check(data: bytes, members: Dict[int, int], y: Array) -> Tuple[str, ...]:
    """A warning when the data's extremes are not those the file records: a damaged data member, most often;
    the file is still read, as the data are otherwise well-formed."""
    if _ORDINATES not in members:
        return ()
    low, high = bounded.unpack(data, _PAIR, members[_ORDINATES], "the ordinate range")
    if (low, high) == (float(y.min()), float(y.max())):
        return ()
    return (f"the data run from {y.min():g} to {y.max():g}, the file's ordinate range says {low:g} to {high:g}: "
            "the data may be damaged",)


def _data_set(data: bytes) -> Tuple[int, int]:
    """Where the data-set block's members begin and end."""
    offset = _START
    while offset < len(data):
        block, size = bounded.unpack(data, _ENTRY, offset, f"the block at byte {offset}")
        bounded.ensure(data, offset + _ENTRY.size, size, f"block {block} at byte {offset}")
        if block == _DATA_SET:
            return offset + _ENTRY.size, offset + _ENTRY.size + size
        offset += _ENTRY.size + size
    raise DataError("the file holds no data-set block, so no spectrum (an image or another PerkinElmer file?)")


def _members(data: bytes, offset: int, end: int) -> Dict[int, int]:
    """Where the value of each member this reader uses begins, after its type code, which is checked."""
    found: Dict[int, int] = {}
    while offset < end:
        member, size = bounded.unpack(data, _ENTRY, offset, f"the member at byte {offset}")
        body = offset + _ENTRY.size
        if size < 0 or body + size > end:
            raise DataError(f"member {member} at byte {offset} claims {size} bytes, its block has {end - body} left")
        if member in _TYPES and member not in found:
            (code,) = bounded.unpack(data, _SHORT, body, f"the {_NAMES[member]}")
            if code != _TYPES[member] or size < _SHORT.size:
                raise DataError(f"the {_NAMES[member]} member at byte {offset} has type {code}, not {_TYPES[member]}")
            found[member] = body + _SHORT.size
        offset = body + size
    return found


def _label(data: bytes, members: Dict[int, int], key: int) -> str:
    if key not in members:
        return ""
    (length,) = bounded.unpack(data, _SHORT, members[key], f"the {_NAMES[key]}")
    bounded.ensure(data, members[key] + 2, length, f"the {_NAMES[key]}")
    return data[members[key] + 2 : members[key] + 2 + length].decode("latin-1").strip()
