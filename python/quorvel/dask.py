"""Lazy baseline correction of Dask arrays: every block runs one of the batch functions.

Each block must hold whole spectra (or whole images), so the processed axes are
rechunked into one chunk. The other axes keep their chunks unless that would make a
block larger than Dask's ``array.chunk-size``; then Dask picks their sizes ("auto")
so that blocks stay near that limit. Keeping small chunks keeps the parallelism the
caller chose, which matters here because correcting costs far more than reading.

A float64 NumPy array is wrapped with ``dask.array.asarray``. Arguments are checked
when the graph is built; bad data (NaN, too short) raises at compute time, naming
the failing item by its index in the whole array. When several blocks fail, the one
reported is whichever failed first, not necessarily the lowest index.
"""

from __future__ import annotations

import math
from typing import Any, Callable, Dict, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

try:
    import dask
    import dask.array as da
    from dask.utils import parse_bytes
except ImportError as error:
    raise ImportError("quorvel.dask needs dask: pip install 'quorvel[dask]'") from error

from . import _engine, batch
from .batch import ItemError, normalised_axes, two_axes

# Dask leaves asarray, rechunk and map_blocks unannotated, hence the "type: ignore" below.
Array = npt.NDArray[np.float64]
Many = Callable[..., Array]
Masks = Union[da.Array, npt.NDArray[np.bool_]]

__all__ = ["correct", "baseline", "correct_2d", "baseline_2d"]

def correct(
    arr: Union[da.Array, Array],
    method: str = "asls",
    axis: int = -1,
    *,
    mask: Optional[Masks] = None,
    x: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> da.Array:
    """Lazy ``correct(spectrum, method, **params)`` for every spectrum along ``axis`` of ``arr``.

    ``mask`` (a boolean Dask or NumPy array of ``arr``'s shape), ``x`` (one position per sample along
    ``axis``, shared by every spectrum) and the parameters are those of ``quorvel.correct``; they are
    checked when the graph is built.
    """
    return _lazy(batch.correct_many, arr, method, (axis,), mask, params, {"x": x})


def baseline(
    arr: Union[da.Array, Array],
    method: str = "asls",
    axis: int = -1,
    *,
    mask: Optional[Masks] = None,
    x: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> da.Array:
    """Lazy ``baseline(spectrum, method, **params)`` for every spectrum along ``axis`` of ``arr``."""
    return _lazy(batch.baseline_many, arr, method, (axis,), mask, params, {"x": x})


def correct_2d(
    arr: Union[da.Array, Array],
    method: str = "asls",
    axes: Sequence[int] = (-2, -1),
    *,
    mask: Optional[Masks] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> da.Array:
    """Lazy ``correct_2d(image, method, **params)`` for every image spanned by ``axes`` of ``arr``; ``x`` and
    ``z`` are the positions along the first and the second of ``axes``."""
    return _lazy(batch.correct_2d_many, arr, method, two_axes(axes), mask, params, {"x": x, "z": z})


def baseline_2d(
    arr: Union[da.Array, Array],
    method: str = "asls",
    axes: Sequence[int] = (-2, -1),
    *,
    mask: Optional[Masks] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> da.Array:
    """Lazy ``baseline_2d(image, method, **params)`` for every image spanned by ``axes`` of ``arr``."""
    return _lazy(batch.baseline_2d_many, arr, method, two_axes(axes), mask, params, {"x": x, "z": z})


def _lazy(
    many: Many,
    arr: object,
    method: str,
    axes: Tuple[int, ...],
    mask: Optional[Masks],
    params: Dict[str, Any],
    positions: Dict[str, object],
) -> da.Array:
    if isinstance(arr, np.ndarray) and arr.dtype == np.float64:
        arr = da.asarray(arr)  # type: ignore[no-untyped-call, unused-ignore]
    if not isinstance(arr, da.Array) or arr.dtype != np.float64:
        raise TypeError(f"arr must be a float64 dask.array.Array or numpy.ndarray, not {_describe(arr)}")
    axes = normalised_axes(axes, arr.ndim)
    item_shape = tuple(arr.shape[axis] for axis in axes)
    known = all(math.isfinite(extent) and extent > 0 for extent in item_shape)
    plan = _engine.plan(len(axes), method, params, item_shape, math.prod(item_shape) if known else None, **positions)
    given = {name: value for name, value in positions.items() if value is not None}
    blocks = _whole_along(arr, axes)
    arrays = [blocks]
    if mask is not None:
        flags = da.asarray(mask)  # type: ignore[no-untyped-call, unused-ignore]
        if flags.dtype != np.bool_ or flags.shape != arr.shape:
            raise TypeError(f"mask must be a boolean array of arr's shape {arr.shape}, not {_describe(flags)}")
        arrays.append(flags.rechunk(blocks.chunks))
    result: da.Array = da.map_blocks(  # type: ignore[no-untyped-call, unused-ignore]
        _quorvel_block,
        *arrays,
        many=many,
        method=plan.name,
        axes=axes,
        params={**params, **given},  # each block's batch call checks the positions again
        dtype=np.float64,
        meta=np.empty((0,) * arr.ndim, dtype=np.float64),
    )
    return result


def _whole_along(arr: da.Array, axes: Tuple[int, ...]) -> da.Array:
    if all(len(arr.chunks[axis]) == 1 for axis in axes):
        return arr
    chunks: Dict[int, Union[int, str]] = {axis: -1 for axis in axes}
    sides = [arr.shape[axis] if axis in axes else max(arr.chunks[axis], default=0) for axis in range(arr.ndim)]
    # Unknown chunk sizes (NaN) compare false, so such arrays keep their chunks.
    if math.prod(sides) * arr.dtype.itemsize > parse_bytes(dask.config.get("array.chunk-size")):
        chunks.update({axis: "auto" for axis in range(arr.ndim) if axis not in axes})
    whole: da.Array = arr.rechunk(chunks)  # type: ignore[no-untyped-call, unused-ignore]
    return whole


def _quorvel_block(
    block: Array,
    flags: Optional[npt.NDArray[np.bool_]] = None,
    *,
    many: Many,
    method: str,
    axes: Tuple[int, ...],
    params: Dict[str, Any],
    block_info: Optional[Dict[Any, Any]] = None,
) -> Array:
    where: Dict[str, Any] = {"axis": axes[0]} if len(axes) == 1 else {"axes": axes}
    try:
        return many(block, method, workers=1, mask=flags, **where, **params)  # Dask already runs blocks in parallel
    except ItemError as error:
        if block_info is None:
            raise
        position = _locate(error.index, axes, block_info[None])
        raise ValueError(f"{error.noun} {position}: {error.reason}") from error.__cause__


def _locate(local: Tuple[int, ...], axes: Tuple[int, ...], info: Dict[str, Any]) -> str:
    """The item's index in the whole array, or in its block when earlier blocks have unknown sizes."""
    batch_axes = [axis for axis in range(len(info["array-location"])) if axis not in axes]
    starts = [info["array-location"][axis][0] for axis in batch_axes]
    if all(math.isfinite(start) for start in starts):
        return str(tuple(int(start) + i for start, i in zip(starts, local)))
    return f"{local} of block {tuple(info['chunk-location'][axis] for axis in batch_axes)}"


def _describe(value: object) -> str:
    if isinstance(value, (np.ndarray, da.Array)):
        return f"an array of dtype {value.dtype}"
    return type(value).__qualname__
