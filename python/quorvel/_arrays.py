"""Arrays as the fits take them: conversions of what callers pass, and the checks of ``x`` and ``out``."""

from __future__ import annotations

from typing import Any, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]
Flags = npt.NDArray[np.bool_]

_NOUNS = {1: "one-dimensional (a spectrum)", 2: "two-dimensional (an image)"}


def as_data(value: Any, name: str, ndim: int) -> Array:
    """``value`` as a float64 array of ``ndim`` dimensions (no copy when it already is one)."""
    if type(value) is np.ndarray and value.dtype == np.float64 and value.ndim == ndim:
        return value
    array = as_real(value, name)
    if array.ndim != ndim:
        raise ValueError(f"{name} must be {_NOUNS[ndim]}; got {describe(value)}")
    return array


def as_real(value: Any, name: str) -> Array:
    """``value`` as a float64 array; complex values are refused rather than cut to their real part."""

    def unconvertible(error: Exception) -> TypeError:
        return TypeError(f"{name} must be an array of real numbers; got {describe(value)} ({error})")

    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as error:  # ragged nesting, for one
        raise unconvertible(error) from error
    if np.iscomplexobj(array):
        raise TypeError(f"{name} must hold real numbers; got {describe(value)}")
    try:
        return array.astype(np.float64, copy=False)
    except (TypeError, ValueError) as error:
        raise unconvertible(error) from error


def as_mask(value: object, shape: Tuple[int, ...]) -> Flags:
    """``value`` as a boolean array of the data's ``shape``."""
    array = np.asarray(value)
    if array.dtype != np.bool_:
        raise TypeError(f"mask must be a boolean array, True where a sample is used; got {describe(value)}")
    if array.shape != shape:
        raise ValueError(f"mask must have the data's shape {shape}; got {describe(value)}")
    return array


def as_positions(value: object, count: int, name: str = "x", per: str = "sample") -> Array:
    """``value`` as a private float64 copy of ``count`` finite, strictly increasing or decreasing positions,
    one ``per`` sample (or row, or column)."""
    array = as_real(value, name)
    if array.shape != (count,):
        raise ValueError(f"{name} must hold one position per {per}, {count} values; got {describe(value)}")
    # Strictly monotonic between finite ends is finite throughout (NaN fails every comparison): two
    # comparisons instead of a finiteness pass and a difference array, which cost more than a fit on long x.
    if count and not (_monotonic(array) and np.isfinite(array[[0, -1]]).all()):
        if not np.isfinite(array).all():
            raise ValueError(f"{name} must be finite; its value {int(np.argmin(np.isfinite(array)))} is not")
        raise ValueError(f"{name} must be strictly increasing or strictly decreasing")
    return np.array(array, dtype=np.float64, order="C", copy=True)


def _monotonic(array: Array) -> bool:
    return bool((array[1:] > array[:-1]).all() or (array[1:] < array[:-1]).all())


def as_out(value: object, shape: Tuple[int, ...], inputs: Sequence[object]) -> Array:
    """``value`` checked as the caller's result array: float64, of ``shape``, C-contiguous, writeable, and
    sharing no memory with ``inputs``, so that writing it can never change what is being read."""
    if not isinstance(value, np.ndarray):
        raise TypeError(f"out must be a numpy.ndarray, not {type(value).__name__}")
    if value.dtype != np.float64:
        raise TypeError(f"out must have dtype float64; got {describe(value)}")
    if value.shape != shape:
        raise ValueError(f"out must have the result's shape {shape}; got {describe(value)}")
    if not (value.flags.c_contiguous and value.flags.writeable and value.flags.aligned):
        raise ValueError("out must be a C-contiguous, aligned and writeable array")
    if any(isinstance(array, np.ndarray) and np.may_share_memory(value, array) for array in inputs):
        raise ValueError("out must not share memory with the input, its mask or positions")
    return value


def private_rows(items: Array, source: object, count: int, size: int, buffer: Optional[Array] = None) -> Array:
    """``items`` as C-contiguous rows that no caller holds: the native code reads them without the lock.

    ``items`` is (a view of) the conversion of ``source``; only a conversion from a Python sequence or
    from another dtype is sure to be new memory, so anything else is copied, into the first rows of
    ``buffer`` when one is given.
    """
    rows = items.reshape(count, size)
    fresh = isinstance(source, (list, tuple)) or (isinstance(source, np.ndarray) and source.dtype != np.float64)
    if fresh and rows.flags.c_contiguous:
        return rows
    if buffer is None:
        return np.array(rows, order="C", copy=True)
    copy = buffer[:count]
    np.copyto(copy, rows)
    return copy


def describe(value: object) -> str:
    """The type, and the dtype and shape or length where it has them, of ``value`` for an error message."""
    kind = type(value).__name__
    dtype, shape = getattr(value, "dtype", None), getattr(value, "shape", None)
    if dtype is not None and shape is not None:
        return f"{kind} of dtype {dtype} and shape {tuple(shape)}"
    if isinstance(value, (list, tuple)):
        return f"{kind} of length {len(value)}"
    return kind


