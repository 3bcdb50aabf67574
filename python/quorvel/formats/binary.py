"""Binary files of formats this package does not read, recognised by their first bytes (or else by a NUL
byte in the first kilobyte, which no text file holds) and refused by name, never parsed as text."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Optional

__all__ = ["HEAD", "READS", "numbered", "recognise"]

HEAD = 1024  # bytes read to tell a binary file
READS = ("delimited text, JCAMP-DX, SPC, EMSA/MSA, MATLAB .mat, Renishaw .wdf, Bruker OPUS, OMNIC .spa, "
         "PerkinElmer .sp, .npy, NetCDF, HDF5 and Zarr")
_MAGIC = [
    (b"ENVI", "an ENVI header, whose image lies in a separate binary file"),
    (b"Spectral Exte File", "a Thermo OMNIC map or series"),
    (b"PK\x03\x04", "a ZIP archive, such as .xlsx or .opju"),
    (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", "an OLE2 compound file, such as .xls or .opj"),
    (b"%PDF", "PDF"),
    (b"\x89PNG", "a PNG image"),
    (b"\xff\xd8\xff", "a JPEG image"),
    (b"II*\x00", "a TIFF image"),
    (b"MM\x00*", "a TIFF image"),
]
_SUFFIXES = {
    ".spa": "Thermo OMNIC, .spa without its 'Spectral Data File' header", ".spg": "Thermo OMNIC, .spg",
    ".srs": "Thermo OMNIC series, .srs", ".map": "Thermo OMNIC map, .map",
    ".sp": "PerkinElmer, .sp without its PEPE block header", ".dmt": "Agilent FPA, .dmt",
    ".seq": "Agilent FPA, .seq", ".bsp": "Agilent FPA, .bsp",
    ".img": "ENVI image, .img", ".raw": "raw binary, .raw",
}
_UTF16 = (b"\xff\xfe", b"\xfe\xff")  # text whose every other byte may be NUL
_OPUS = re.compile(r"\.\d+$")  # Bruker OPUS numbers its files: sample.0, sample.1, ...


def recognise(path: Path, head: bytes) -> Optional[str]:
    """What a binary file seems to be, or None for a file that may be text."""
    named = next((name for magic, name in _MAGIC if head.startswith(magic)), None)
    if named is None and (b"\0" not in head or head.startswith(_UTF16)):
        return None
    by_name = "Bruker OPUS by its name, without its header" if numbered(path) else "unknown"
    return named or _SUFFIXES.get(path.suffix.lower()) or by_name


def numbered(path: Path) -> bool:
    """Whether ``path`` is named as OPUS numbers its files."""
    return _OPUS.search(path.name) is not None
