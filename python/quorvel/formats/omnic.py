"""Thermo OMNIC ``.spa`` files: one spectrum, little-endian.

The file opens with ``Spectral Data File`` and a title; a directory at byte 304, of as many 16-byte entries
as the count at byte 294 says, gives each record's key, place and size. The spectrum's header (key 2)
holds the point count and the first and last x, its values (key 3) are that many 32-bit floats on the
evenly spaced axis between them. Every entry is checked against the file's size before it is read.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import List, Tuple

import numpy as np

from . import bounded
from .dataset import Array, DataError

__all__ = ["MAGIC", "MAP_MAGIC", "Spa", "read"]

MAGIC = b"Spectral Data File"
MAP_MAGIC = b"Spectral Exte File"  # OMNIC's maps and series, whose layout is not read
_TITLE = slice(30, 30 + 256)
_COUNT = struct.Struct("<H")
_COUNT_AT, _DIRECTORY = 294, 304
_ENTRY = struct.Struct("<HII6x")  # key, offset, size
_HEADER = struct.Struct("<4xIIIff")  # points, x units, y units, first x, last x
_HEADER_KEY, _VALUES_KEY = 2, 3
_X_UNITS = {1: "wavenumber (cm-1)"}


@dataclass(frozen=True)
class Spa:
    x: Array
    y: Array
    x_units: str
    title: str


def read(path: Path) -> Spa:
    """The spectrum of an OMNIC ``.spa`` file; DataError names the record that is wrong."""
    data = path.read_bytes()
    if not data.startswith(MAGIC):
        raise DataError("not an OMNIC spectrum: it does not start with 'Spectral Data File'")
    entries = _directory(data)
    header = _only(entries, _HEADER_KEY, "spectrum header")
    values = _only(entries, _VALUES_KEY, "data")
    points, x_units, _, first, last = bounded.unpack(data, _HEADER, header[0], "the spectrum header")
    if points < 1 or values[1] != 4 * points:
        raise DataError(f"the data record holds {values[1]} bytes for {points} points (4 bytes each)")
    if not np.isfinite([first, last]).all():
        raise DataError(f"the spectrum header gives an x range of {first} to {last}")
    y = bounded.array(data, "<f4", points, values[0], "the data")
    title = data[_TITLE].split(b"\0", 1)[0].decode("latin-1").strip()
    return Spa(np.linspace(first, last, points), y, _X_UNITS.get(x_units, ""), title)


def _directory(data: bytes) -> List[Tuple[int, int, int]]:
    (count,) = bounded.unpack(data, _COUNT, _COUNT_AT, "the directory's count")
    bounded.ensure(data, _DIRECTORY, count * _ENTRY.size, f"a directory of {count} records")
    entries: List[Tuple[int, int, int]] = [_ENTRY.unpack_from(data, _DIRECTORY + k * _ENTRY.size)
                                           for k in range(count)]
    for key, offset, size in entries:
        bounded.ensure(data, offset, size, f"record {key} (the directory's)")
    return entries


def _only(entries: List[Tuple[int, int, int]], key: int, what: str) -> Tuple[int, int]:
    found = [(offset, size) for k, offset, size in entries if k == key]
    if len(found) != 1:
        raise DataError(f"the directory lists {len(found)} {what} records (1 expected)")
    return found[0]
