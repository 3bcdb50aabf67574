"""Thermo Galactic SPC (``.spc``): binary spectra, one or many (subfiles), little-endian.

Reads the current format (version byte 0x4B): evenly spaced x from the header or one x
array for all subfiles, or an x array per subfile (XYXY files, whose spectra may differ in
length); y as 32-bit floats or as 16/32-bit integers scaled by a power of two. Every count in
a header is checked against the bytes that are left before anything is read or allocated.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Tuple

import numpy as np

from . import bounded
from .dataset import Array, DataError, Spectrum

__all__ = ["Spc", "read"]

_HEADER = struct.Struct("<BBBbIddIBBBB")  # flags, version, experiment, exponent, points, first, last, subfiles, types
_HEADER_SIZE = 512
_SUBHEADER = struct.Struct("<BbHfffIIf4x")  # flags, exponent, index, time, next, noise, points, scans, w
_SUBHEADER_SIZE = _SUBHEADER.size
_CATXT = slice(218, 248)

_SINGLE_PRECISION, _MULTI, _LABELS, _XYXY, _X_VALUES = 0x01, 0x04, 0x20, 0x40, 0x80
_FLOAT = -128  # the exponent that says y is stored as 32-bit floats

_X_UNITS = [
    "arbitrary", "wavenumber (cm-1)", "wavelength (µm)", "wavelength (nm)", "time (s)", "time (min)",
    "frequency (Hz)", "frequency (kHz)", "frequency (MHz)", "mass (m/z)", "chemical shift (ppm)", "time (days)",
    "time (years)", "Raman shift (cm-1)", "energy (eV)", "", "diode number", "channel", "angle (degrees)",
    "temperature (°F)", "temperature (°C)", "temperature (K)", "data point", "time (ms)", "time (µs)",
    "time (ns)", "frequency (GHz)", "length (cm)", "length (m)", "length (mm)", "time (h)",
]
_Y_UNITS = {
    0: "arbitrary intensity", 1: "interferogram", 2: "absorbance", 3: "Kubelka-Munk", 4: "counts", 5: "volts",
    6: "degrees", 7: "mA", 8: "mm", 9: "mV", 10: "log(1/R)", 11: "percent", 12: "intensity",
    13: "relative intensity", 14: "energy", 16: "decibel", 19: "temperature (°F)", 20: "temperature (°C)",
    21: "temperature (K)", 22: "index of refraction", 23: "extinction coefficient", 24: "real", 25: "imaginary",
    26: "complex", 128: "transmission", 129: "reflectance", 130: "single beam", 131: "emission",
}


@dataclass(frozen=True)
class Spc:
    spectra: List[Spectrum]
    x_units: str
    y_units: str


def read(path: Path) -> Spc:
    """Every subfile of an SPC file as a spectrum, with the x axis and units of its header."""
    data = path.read_bytes()
    if len(data) < _HEADER_SIZE:
        raise DataError(f"not an SPC file: {len(data)} bytes, fewer than its 512-byte header")
    flags, version, _, exponent, points, first, last, subfiles, x_type, y_type, _, _ = _HEADER.unpack_from(data)
    if version == 0x4D:
        raise DataError("an SPC file in the old format (before 1996), which is not read")
    if version == 0x4C:
        raise DataError("an SPC file in the big-endian variant, which is not read")
    if version != 0x4B:
        raise DataError(f"not an SPC file: version byte 0x{version:02X} (0x4B expected)")
    if subfiles < 1 or not flags & _MULTI and subfiles != 1:
        raise DataError(f"the header gives {subfiles} subfiles")
    reader = _Reader(data, _HEADER_SIZE)
    shared_x: Optional[Array] = None
    if not flags & _XYXY:
        _check_points(points)
        if flags & _X_VALUES:
            shared_x = reader.array("<f4", points, "the x values")
        else:
            reader.ensure(_SUBHEADER_SIZE + points * (2 if flags & _SINGLE_PRECISION else 4), "subfile 1")
            shared_x = np.linspace(first, last, points)
    spectra = [_subfile(reader, index, flags, exponent, points, shared_x) for index in range(subfiles)]
    x_units, y_units = _units(data, flags, x_type, y_type)
    return Spc(spectra, x_units, y_units)


class _Reader:
    """Reads forward through ``data``, refusing any count that runs past its end."""

    def __init__(self, data: bytes, offset: int) -> None:
        self.data, self.offset = data, offset

    def ensure(self, size: int, what: str) -> None:
        bounded.ensure(self.data, self.offset, size, what)

    def array(self, dtype: str, count: int, what: str) -> Array:
        values = bounded.array(self.data, dtype, count, self.offset, what)
        self.offset += np.dtype(dtype).itemsize * count
        return values

    def subheader(self, index: int) -> Tuple[int, int]:
        """The exponent and the point count of subfile ``index``."""
        _, exponent, _, _, _, _, points, _, _ = bounded.unpack(
            self.data, _SUBHEADER, self.offset, f"the header of subfile {index + 1}")
        self.offset += _SUBHEADER_SIZE
        return exponent, points


def _subfile(
    reader: _Reader, index: int, flags: int, main_exponent: int, points: int, shared_x: Optional[Array]
) -> Spectrum:
    own_exponent, own_points = reader.subheader(index)
    # A single spectrum's scale is in the file header, each of many in its own subfile header.
    exponent = own_exponent if flags & _MULTI else main_exponent
    x = shared_x
    if x is None:
        _check_points(own_points, index)
        points = own_points
        x = reader.array("<f4", points, f"the x values of subfile {index + 1}")
    if _FLOAT in (exponent, own_exponent):
        y = reader.array("<f4", points, f"subfile {index + 1}")
    else:
        bits = 16 if flags & _SINGLE_PRECISION else 32
        stored = reader.array(f"<i{bits // 8}", points, f"subfile {index + 1}")
        y = stored * np.ldexp(1.0, exponent - bits)
    return Spectrum(x, y, f"subfile {index + 1}")


def _check_points(points: int, index: Optional[int] = None) -> None:
    if points < 1:
        where = "the header" if index is None else f"the header of subfile {index + 1}"
        raise DataError(f"{where} gives {points} points")


def _units(data: bytes, flags: int, x_type: int, y_type: int) -> Tuple[str, str]:
    x_units = _X_UNITS[x_type] if x_type < len(_X_UNITS) else ""
    y_units = _Y_UNITS.get(y_type, "")
    if flags & _LABELS:  # the file names its axes itself, as text separated by NULs
        labels = data[_CATXT].split(b"\0")
        named = [label.decode("latin-1").strip() for label in labels[:2]]
        x_units = named[0] or x_units
        y_units = (named[1] if len(named) > 1 else "") or y_units
    return x_units, y_units
