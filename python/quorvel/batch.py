"""One method over every spectrum (or image) of an N-D array, on a pool of threads.

The native functions release the interpreter lock while they compute, so plain threads
use every core; each call copies its own input, so the workers share nothing mutable.
"""

from __future__ import annotations

import itertools
import os
import threading
from concurrent.futures import ThreadPoolExecutor
from typing import Callable, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from . import _native

Array = npt.NDArray[np.float64]

__all__ = ["correct_many", "baseline_many", "correct_2d_many", "baseline_2d_many", "ItemError"]


class ItemError(ValueError):
    """One spectrum or image of a batch failed: ``index`` is its position among the items."""

    def __init__(self, noun: str, index: Tuple[int, ...], reason: str) -> None:
        super().__init__(f"{noun} {index}: {reason}")
        self.noun, self.index, self.reason = noun, index, reason

    def __reduce__(self) -> Tuple[type, Tuple[str, Tuple[int, ...], str]]:
        return ItemError, (self.noun, self.index, self.reason)

# Small inputs every method accepts, to reject an unknown method name before any work.
_PROBES = {1: np.zeros(3), 2: np.zeros((3, 3))}


def check_method(method: str, ndim: int) -> None:
    """Raises the library's own error when ``method`` names no method for ``ndim``-dimensional data."""
    (_native.baseline if ndim == 1 else _native.baseline_2d)(_PROBES[ndim], method)


def correct_many(data: Array, method: str = "asls", *, axis: int = -1, workers: Optional[int] = None) -> Array:
    """``correct(spectrum, method)`` for every spectrum along ``axis`` of ``data``."""
    return _apply(_native.correct, data, method, (axis,), workers, "spectrum")


def baseline_many(data: Array, method: str = "asls", *, axis: int = -1, workers: Optional[int] = None) -> Array:
    """``baseline(spectrum, method)`` for every spectrum along ``axis`` of ``data``."""
    return _apply(_native.baseline, data, method, (axis,), workers, "spectrum")


def correct_2d_many(
    data: Array, method: str = "asls", *, axes: Sequence[int] = (-2, -1), workers: Optional[int] = None
) -> Array:
    """``correct_2d(image, method)`` for every image spanned by ``axes`` of ``data``."""
    return _apply(_native.correct_2d, data, method, two_axes(axes), workers, "image")


def baseline_2d_many(
    data: Array, method: str = "asls", *, axes: Sequence[int] = (-2, -1), workers: Optional[int] = None
) -> Array:
    """``baseline_2d(image, method)`` for every image spanned by ``axes`` of ``data``."""
    return _apply(_native.baseline_2d, data, method, two_axes(axes), workers, "image")


def _apply(
    function: Callable[[Array, str], Array],
    data: object,
    method: str,
    axes: Tuple[int, ...],
    workers: Optional[int],
    noun: str,
) -> Array:
    if not isinstance(data, np.ndarray) or data.dtype != np.float64:
        raise TypeError(f"data must be a float64 numpy.ndarray, not {_describe(data)}")
    axes = normalised_axes(axes, data.ndim)
    count_workers = _worker_count(workers)
    check_method(method, len(axes))

    result = np.empty(data.shape)
    # Views with the processed axes last: result_view[index] is one output spectrum or image.
    source = np.moveaxis(data, axes, range(-len(axes), 0))
    target = np.moveaxis(result, axes, range(-len(axes), 0))
    batch_shape = source.shape[: data.ndim - len(axes)]
    count = int(np.prod(batch_shape, dtype=np.int64))
    failures: List[Tuple[int, Tuple[int, ...], ValueError]] = []
    lowest_failure = [count]
    lock = threading.Lock()

    def run(first: int, stop: int) -> None:
        indices = itertools.islice(itertools.product(*map(range, batch_shape)), first, stop)
        for flat, index in enumerate(indices, start=first):
            if flat > lowest_failure[0]:
                return  # an earlier item has failed; its error is the one reported
            try:
                target[index] = function(source[index], method)
            except ValueError as error:
                with lock:
                    failures.append((flat, index, error))
                    lowest_failure[0] = min(lowest_failure[0], flat)
                return

    chunks = _chunks(count, count_workers)
    if count_workers == 1 or len(chunks) == 1:
        for first, stop in chunks:
            run(first, stop)
    else:
        with ThreadPoolExecutor(max_workers=count_workers) as pool:
            for future in [pool.submit(run, first, stop) for first, stop in chunks]:
                future.result()
    if failures:
        flat, index, error = min(failures, key=lambda failure: failure[0])
        raise ItemError(noun, index, str(error)) from error
    return result


def two_axes(axes: Sequence[int]) -> Tuple[int, ...]:
    axes = tuple(axes)
    if len(axes) != 2:
        raise ValueError(f"axes must name two axes, not {axes}")
    return axes


def normalised_axes(axes: Tuple[int, ...], ndim: int) -> Tuple[int, ...]:
    normalised: List[int] = []
    for axis in axes:
        if isinstance(axis, bool) or not isinstance(axis, (int, np.integer)):
            raise TypeError(f"axis must be an integer, not {_describe(axis)}")
        if not -ndim <= axis < ndim:
            raise ValueError(f"axis {axis} is out of range for an array of {ndim} dimensions")
        normalised.append(int(axis) % ndim)
    if len(set(normalised)) != len(normalised):
        raise ValueError(f"axes {tuple(axes)} name the same axis twice")
    return tuple(normalised)


def _worker_count(workers: Optional[int]) -> int:
    if workers is None:
        return os.cpu_count() or 1
    if isinstance(workers, bool) or not isinstance(workers, (int, np.integer)) or workers < 1:
        raise ValueError(f"workers must be a positive integer or None, not {workers!r}")
    return int(workers)


def _chunks(count: int, workers: int) -> List[Tuple[int, int]]:
    """Contiguous index ranges, a few per worker so that uneven items balance out."""
    pieces = max(1, min(count, 4 * workers))
    bounds = np.linspace(0, count, pieces + 1).astype(np.int64)
    return [(int(a), int(b)) for a, b in zip(bounds[:-1], bounds[1:]) if b > a]


def _describe(value: object) -> str:
    if isinstance(value, np.ndarray):
        return f"an array of dtype {value.dtype}"
    return f"{type(value).__qualname__}"
