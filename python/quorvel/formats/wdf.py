"""Renishaw WiRE ``.wdf`` files, single spectra and maps, read through the vendor's reader on the package
index (``renishaw-wdf``, in the ``vendor`` extra). Every count of the header is checked against the file's
size before any spectrum is read, and whatever the reader raises on a damaged file becomes our error."""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import Any, List

import numpy as np

from . import optional
from .dataset import Array, DataError

__all__ = ["MAGIC", "Wire", "module", "read"]

MAGIC = b"WDF1"
HINT = "pip install 'quorvel[vendor]'"
_HEADER = 512
_BLOCK_HEAD = struct.Struct("<4sIQ")
_COORDINATES = ("Spatial_X", "Spatial_Y", "Spatial_Z")


@dataclass(frozen=True)
class Wire:
    """The spectra collected, their x axis and units, and each spectrum's stage position where it has one."""

    spectra: Array
    x: Array
    x_units: str
    coordinates: Array  # (count, axes), as ``coordinate_names`` names them
    coordinate_names: List[str]
    title: str


def read(path: Path) -> Wire:
    """The collected spectra of a WiRE file; DataError says why a file cannot be read."""
    wdf = module()
    size = _check_blocks(path)
    try:
        with wdf.Wdf(str(path)) as data:
            count = _checked_count(data.hdr, size)
            spectra = np.array(data.spectrum(slice(0, count)), dtype=np.float64).reshape(count, data.hdr.npoints)
            xlist = data.xlist()
            x = np.asarray(xlist, dtype=np.float64)
            coordinates, names = _coordinates(wdf, data, count)
            units = str(getattr(xlist, "units", "")).split(".")[-1]
            title = str(data.hdr.title)
    except (DataError, MemoryError):
        raise
    except Exception as error:  # noqa: BLE001 - whatever the vendor's reader raises, it is this file's problem
        raise DataError(f"not a readable WiRE file: {error}") from None
    if x.shape != (spectra.shape[1],):
        raise DataError(f"an x axis of {x.size} values for spectra of {spectra.shape[1]}")
    return Wire(spectra, x, units, coordinates, names, title)


def module() -> Any:
    """The vendor's reader, or DataError saying why it is not there."""
    return optional.load("wdf", "reading WiRE files needs renishaw-wdf", HINT)


def _check_blocks(path: Path) -> int:
    """The file's size, once its chain of blocks (id, uid, size including this 16-byte head) is known to end
    exactly at the end of the file: the vendor's reader loops forever on a block of size 0."""
    size = path.stat().st_size
    if size < _HEADER:
        raise DataError(f"not a WiRE file: {size} bytes, fewer than its 512-byte header")
    with open(path, "rb") as stream:
        position = 0
        while position < size:
            stream.seek(position)
            head = stream.read(_BLOCK_HEAD.size)
            if len(head) < _BLOCK_HEAD.size:
                raise DataError(f"the file ends inside the head of the block at byte {position}")
            name, _, length = _BLOCK_HEAD.unpack(head)
            label = name.decode("latin-1").strip() or "?"
            if position == 0 and (name != MAGIC or length != _HEADER):
                raise DataError("not a WiRE file: it does not start with a 512-byte WDF1 header")
            if length < _BLOCK_HEAD.size or position + length > size:
                raise DataError(f"the block {label!r} at byte {position} claims {length} bytes; the file has "
                                f"{size - position} from there")
            position += length
    return size


def _checked_count(header: Any, size: int) -> int:
    """How many spectra were collected, once the header's counts are known to fit in the file."""
    points, count = int(header.npoints), int(header.ncollected or header.nspectra)
    if points < 1 or count < 1:
        raise DataError(f"the header claims {count} spectra of {points} points")
    if 4 * (points * count + int(header.xlistcount)) > size - _HEADER:
        raise DataError(f"the header claims {count} spectra of {points} points, more than a file of {size} bytes "
                        "holds")
    return count


def _coordinates(wdf: Any, data: Any, count: int) -> tuple[Array, List[str]]:
    names: List[str] = []
    columns: List[Array] = []
    for name in _COORDINATES:
        kind = getattr(wdf.WdfDataType, name)
        if kind in data.origins:
            names.append(name.split("_")[1].lower())
            columns.append(np.asarray([float(value) for value in data.origins[kind][:count]]))
    return (np.column_stack(columns) if columns else np.empty((count, 0))), names
