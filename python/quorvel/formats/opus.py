"""Bruker OPUS files (``sample.0``, ``sample.1``, ...), read through ``brukeropus`` from the package index
(the ``vendor`` extra). Our own walk of the file's directory checks every block against the file's size
first; whatever the reader raises on a damaged file becomes our error, and the spectrum it gives is
checked against its block's size and its own point count.

A file holds several spectra of one measurement: the result (absorbance, transmittance, reflectance,
Raman, ...) is read unless ``--var`` names another by the reader's key (``sm``, ``rf``, ``igsm``, ...).
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Optional

import numpy as np

from . import bounded, optional
from .dataset import Array, DataError

__all__ = ["MAGIC", "Opus", "read"]

MAGIC = b"\x0a\x0a\xfe\xfe"
HINT = "pip install 'quorvel[vendor]'"
_HEADER = struct.Struct("<4s8xiii")  # magic, version, directory's place, its room and its count of blocks
_ENTRY = struct.Struct("<4xii")  # a block's type, its length in 4-byte words and its place
# Results before the measured channels they come from; interferograms and phases last of all.
_PREFERRED = ("a", "t", "r", "km", "ra", "e", "atr", "logr", "pas", "pw", "tr", "sm", "rf")
_X_UNITS = {"WN": "wavenumber (cm-1)", "MI": "wavelength (µm)", "LGW": "log(wavenumber)", "MIN": "time (min)",
            "PNT": "point", "NM": "wavelength (nm)"}


@dataclass(frozen=True)
class Opus:
    x: Array
    y: Array
    key: str
    label: str
    x_units: str


def read(path: Path, var: Optional[str]) -> Opus:
    """The result spectrum of an OPUS file, or the one ``var`` names; DataError says what is wrong."""
    data = path.read_bytes()
    _check_directory(data)
    reader = optional.load("brukeropus", "reading OPUS files needs brukeropus", HINT)
    try:
        opus = reader.read_opus(str(path))
    except MemoryError:
        raise
    except Exception as error:  # noqa: BLE001 - whatever the reader raises, it is this file's problem
        raise DataError(f"not a readable OPUS file: {error}") from None
    keys = list(getattr(opus, "data_keys", []))
    if not opus or not keys:
        raise DataError("an OPUS file without a spectrum the reader could decode")
    key = var if var is not None else next((k for k in _PREFERRED if k in keys), keys[0])
    if key not in keys:
        raise DataError(f"holds no spectrum {key!r}; it holds {', '.join(keys)} (name one with --var)")
    return _checked(getattr(opus, key), key, len(data))


def _check_directory(data: bytes) -> None:
    _, place, room, count = bounded.unpack(data, _HEADER, 0, "the header")
    if count < 0 or count > room or place < _HEADER.size:
        raise DataError(f"the header gives a directory of {count} blocks in room for {room} at byte {place}")
    bounded.ensure(data, place, count * _ENTRY.size, f"a directory of {count} blocks")
    for index in range(count):
        words, start = _ENTRY.unpack_from(data, place + index * _ENTRY.size)
        bounded.ensure(data, start, 4 * words, f"block {index + 1} of the directory")


def _checked(spectrum: Any, key: str, size: int) -> Opus:
    x = np.asarray(spectrum.x, dtype=np.float64)
    y = np.asarray(spectrum.y, dtype=np.float64)
    points = int(spectrum.params.npt)
    stored = int(getattr(spectrum.block, "size", size))
    if y.ndim != 1 or y.size != points or x.shape != y.shape or 4 * points > stored:
        raise DataError(f"the spectrum {key!r} has {y.size} values and {x.size} x values for {points} points in a "
                        f"block of {stored} bytes")
    if not np.isfinite(x).all():
        raise DataError(f"the x axis of {key!r} is not finite")
    units = str(getattr(spectrum.params, "dxu", ""))
    return Opus(x, y, key, str(getattr(spectrum, "label", key)), _X_UNITS.get(units, units))
