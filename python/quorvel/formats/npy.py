"""NumPy ``.npy`` files: spectra along the last axis, or images over the last two."""

from __future__ import annotations

from pathlib import Path
from typing import BinaryIO

import numpy as np

from .dataset import Array, DataError

__all__ = ["read", "write", "MAGIC"]

MAGIC = b"\x93NUMPY"


def read(path: Path) -> Array:
    """Loads a ``.npy`` file as float64; integer and boolean data are converted, pickles refused."""
    with open(path, "rb") as stream:
        if stream.read(len(MAGIC)) != MAGIC:
            raise DataError("not a .npy file: it does not start like one")
        _check_size(stream)
    try:
        data = np.load(path, allow_pickle=False)
    except (ValueError, EOFError) as error:
        raise DataError(f"not a readable .npy file: {error}") from error
    kind = data.dtype.kind
    if kind not in "biuf":
        raise DataError(f"holds {data.dtype} values, which cannot be read as real numbers")
    return np.asarray(data, dtype=np.float64)


def write(data: Array, stream: BinaryIO) -> None:
    np.save(stream, data, allow_pickle=False)


def _check_size(stream: BinaryIO) -> None:
    """Refuses a header that claims more data than the file holds, before NumPy allocates it."""
    stream.seek(0)
    try:
        version = np.lib.format.read_magic(stream)
        header = np.lib.format.read_array_header_1_0 if version == (1, 0) else np.lib.format.read_array_header_2_0
        shape, _, dtype = header(stream)
    except (ValueError, EOFError) as error:
        raise DataError(f"not a readable .npy file: {error}") from error
    claimed = int(np.prod(shape, dtype=object)) * dtype.itemsize
    held = _remaining(stream)
    if not dtype.hasobject and claimed > held:
        raise DataError(f"not a readable .npy file: its header claims {claimed} bytes of data, the file holds {held}")


def _remaining(stream: BinaryIO) -> int:
    here = stream.tell()
    return stream.seek(0, 2) - here
