"""Reads values at given places of a binary file's bytes, refusing any count that runs past the end, so that a
damaged header becomes an error naming what it wanted instead of a huge allocation or a read of garbage."""

from __future__ import annotations

import struct
from typing import Any, Tuple

import numpy as np

from .dataset import Array, DataError

__all__ = ["array", "ensure", "unpack"]


def ensure(data: bytes, offset: int, size: int, what: str) -> None:
    """Refuses ``size`` bytes at ``offset`` unless ``data`` holds them."""
    if offset < 0 or size < 0 or offset + size > len(data):
        left = max(len(data) - offset, 0)
        raise DataError(f"{what} need {size} bytes at byte {offset}, the file has {left} left")


def unpack(data: bytes, layout: struct.Struct, offset: int, what: str) -> Tuple[Any, ...]:
    ensure(data, offset, layout.size, what)
    return layout.unpack_from(data, offset)


def array(data: bytes, dtype: str, count: int, offset: int, what: str) -> Array:
    """``count`` values of ``dtype`` at ``offset``, as float64."""
    ensure(data, offset, np.dtype(dtype).itemsize * count, what)
    return np.frombuffer(data, dtype=dtype, count=count, offset=offset).astype(np.float64)
