"""One method over every spectrum (or image) of an N-D array, in blocks on a pool of threads.

Each worker hands the native code a whole block of items and the native code releases the
interpreter lock once for the block, so plain threads use every core even when one item takes
only microseconds. Every item's result has the bits of the one-item functions.
"""

from __future__ import annotations

import threading
from typing import Any, List, NamedTuple, Optional, Sequence, Tuple, Type

import numpy as np
import numpy.typing as npt

from . import _engine, _pool, api, parameters
from ._arrays import as_mask, as_out, as_real, private_rows
from ._engine import BASELINE, CORRECTED, Failure
from .convergence import ConvergenceWarning, warn_short_solves, warn_unconverged
from .result import ManyResult

Array = npt.NDArray[np.float64]

__all__ = ["correct_many", "baseline_many", "fit_many", "correct_2d_many", "baseline_2d_many", "fit_2d_many",
           "ItemError"]

# Each worker fits its rows this many samples at a time (at least LANE_FILL items), through a private copy
# that stays near its core's 2 MiB cache; much smaller blocks cost the lanes more drained tails.
CACHED_SAMPLES = 1 << 18


class ItemError(ValueError):
    """One spectrum or image of a batch failed: ``index`` is its position among the items."""

    def __init__(self, noun: str, index: Tuple[int, ...], reason: str) -> None:
        super().__init__(f"{noun} {index}: {reason}")
        self.noun, self.index, self.reason = noun, index, reason

    def __reduce__(self) -> Tuple[type, Tuple[str, Tuple[int, ...], str]]:
        return ItemError, (self.noun, self.index, self.reason)


def correct_many(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    axis: int = -1,
    workers: Optional[int] = None,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """``correct(spectrum, method, **params)`` for every spectrum along ``axis`` of ``data``.

    ``mask``, of the data's shape, masks samples as ``correct`` does; ``x``, one position per
    sample along ``axis``, is shared by every spectrum. ``out``, a C-contiguous float64 array of
    the data's shape sharing no memory with the inputs, receives the result and is returned.
    ``workers`` threads share the work (default: one per CPU). The parameters are those of
    ``quorvel.correct``. Spectra whose fits stop at ``max_iter`` without meeting ``tol`` are
    counted in one ``quorvel.ConvergenceWarning``; for airpls, ``stop="residuals"`` converges
    where its default rule, the change of the weights, keeps failing on noisy data.
    """
    return _warned(apply(data, method, (axis,), workers, mask, params, CORRECTED, (x,), out))


def baseline_many(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    axis: int = -1,
    workers: Optional[int] = None,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """``baseline(spectrum, method, **params)`` for every spectrum along ``axis`` of ``data``; the keywords,
    and the ConvergenceWarning for fits that stop at ``max_iter`` (airpls: try ``stop="residuals"``), are
    those of ``correct_many``."""
    return _warned(apply(data, method, (axis,), workers, mask, params, BASELINE, (x,), out))


def correct_2d_many(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    axes: Sequence[int] = (-2, -1),
    workers: Optional[int] = None,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """``correct_2d(image, method, **params)`` for every image spanned by ``axes`` of ``data``; ``mask``,
    ``out`` and ``workers`` as for ``correct_many``, ``x`` and ``z`` the positions along the first and
    the second of ``axes``, shared by every image. Images whose fits stop at ``max_iter`` without meeting
    ``tol`` are counted in one ``quorvel.ConvergenceWarning`` (airpls: try ``stop="residuals"``)."""
    return _warned(apply(data, method, two_axes(axes), workers, mask, params, CORRECTED, (x, z), out))


def baseline_2d_many(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    axes: Sequence[int] = (-2, -1),
    workers: Optional[int] = None,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """``baseline_2d(image, method, **params)`` for every image spanned by ``axes`` of ``data``; the
    keywords are those of ``correct_2d_many``."""
    return _warned(apply(data, method, two_axes(axes), workers, mask, params, BASELINE, (x, z), out))


def fit_many(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    axis: int = -1,
    workers: Optional[int] = None,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> ManyResult:
    """``fit(spectrum, method, **params)`` for every spectrum along ``axis`` of ``data``: the baselines, and
    each spectrum's iterations, convergence and last change as arrays of the other axes' shape. The
    keywords are those of ``correct_many``; the fits run in the same blocks, with the same bits."""
    return _reported(apply(data, method, (axis,), workers, mask, params, BASELINE, (x,), None))


def fit_2d_many(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    axes: Sequence[int] = (-2, -1),
    workers: Optional[int] = None,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> ManyResult:
    """``fit_2d(image, method, **params)`` for every image spanned by ``axes`` of ``data``, reported as
    ``fit_many`` reports spectra; the keywords are those of ``correct_2d_many``."""
    return _reported(apply(data, method, two_axes(axes), workers, mask, params, BASELINE, (x, z), None))


class Applied(NamedTuple):
    """A batch's result, each item's report (iterations, last change, converged, short solves; the batch's
    shape + (4,)) and the plan it ran."""

    result: Array
    reports: Array
    plan: _engine.Plan

    def warn_unconverged(self, stacklevel: int, category: Type[Warning] = ConvergenceWarning) -> None:
        """One warning for the items that did not converge and one for those with solves left short,
        ``stacklevel`` counted from the caller of this method (1)."""
        plan = self.plan
        warn_unconverged(self.reports[..., 2] != 0, plan.ndim, plan.name, plan.params, stacklevel + 1, category)
        warn_short_solves(self.reports[..., 3], plan.ndim, plan.params, stacklevel + 1, category)


def _warned(applied: Applied) -> Array:
    applied.warn_unconverged(stacklevel=3)
    return applied.result


def _reported(applied: Applied) -> ManyResult:
    applied.warn_unconverged(stacklevel=3)
    reports = applied.reports
    return ManyResult(applied.result, applied.plan.name, applied.plan.params, reports[..., 0].astype(np.int64),
                      reports[..., 2] != 0, reports[..., 1].copy(), reports[..., 3].astype(np.int64))


def apply(
    data: object,
    method: str,
    axes: Tuple[int, ...],
    workers: Optional[int],
    mask: object,
    params: Any,
    want: int,
    positions: Tuple[object, ...],
    out: object = None,
) -> Applied:
    """The batch functions' common work, without their warning: see ``Applied``."""
    values = as_real(data, "data")
    axes = normalised_axes(axes, values.ndim)
    count_workers = _worker_count(workers)
    ndim = len(axes)
    name = parameters.canonical(method, ndim)
    flags = None if mask is None else as_mask(mask, values.shape)
    if flags is not None and flags.all():
        flags = None

    # Items as rows of a two-dimensional block: the processed axes last, flattened.
    moved = np.moveaxis(values, axes, range(-ndim, 0))
    item_shape = moved.shape[values.ndim - ndim :]
    batch_shape = moved.shape[: values.ndim - ndim]
    count, size = int(np.prod(batch_shape, dtype=np.int64)), int(np.prod(item_shape, dtype=np.int64))
    items = moved.reshape(count, size)
    item_flags = None if flags is None else np.moveaxis(flags, axes, range(-ndim, 0)).reshape(count, size)
    used = size if item_flags is None else int(np.count_nonzero(item_flags, axis=1).min(initial=size))
    plan = _engine.plan(ndim, name, params, item_shape, used if size and count else None, *positions)

    result = np.empty(values.shape) if out is None else as_out(out, values.shape, (data, values, mask, *positions))
    target = np.moveaxis(result, axes, range(-ndim, 0))
    flat = target.reshape(count, size)  # a view when the processed axes are already the last
    if not flat.flags.c_contiguous:
        flat = np.empty((count, size))

    reports = np.empty((count, 4))
    step = max(_pool.LANE_FILL, CACHED_SAMPLES // max(size, 1))
    buffers = threading.local()

    def run(first: int, stop: int) -> Optional[Failure]:
        # Each worker copies its own rows, so the copying runs in parallel too, a few at a time into one
        # buffer of its own that stays in its core's cache; np.not_equal gives a new mask in which any
        # non-zero byte of a bool array is exactly True.
        if getattr(buffers, "rows", None) is None:
            buffers.rows = np.empty((min(step, count), size))
        buffer = buffers.rows
        for start in range(first, stop, step):
            end = min(start + step, stop)
            block = private_rows(items[start:end], data, end - start, size, buffer)
            masks = None if item_flags is None else np.ascontiguousarray(np.not_equal(item_flags[start:end], False))
            failure = plan.run_block(flat[start:end], block, masks, want, reports[start:end])
            if failure is not None:
                return start + failure[0], failure[1], failure[2]
        return None

    outcomes = _pool.run_pool(count, size, count_workers, run)
    failures = [failure for failure in outcomes if failure is not None]
    if failures:
        index, reason, at = min(failures, key=lambda failure: failure[0])
        position = tuple(int(i) for i in np.unravel_index(index, batch_shape)) if batch_shape else ()
        hint = api.hinted(reason, at, item_shape, plan.name, ndim == 1 and plan.x is not None)
        raise ItemError("spectrum" if ndim == 1 else "image", position, str(hint))
    if not np.may_share_memory(flat, result):
        target[...] = flat.reshape(target.shape)
    return Applied(result, reports.reshape(*batch_shape, 4), plan)


def two_axes(axes: Sequence[int]) -> Tuple[int, ...]:
    axes = tuple(axes)
    if len(axes) != 2:
        raise ValueError(f"axes must name two axes, not {axes}")
    return axes


def normalised_axes(axes: Tuple[int, ...], ndim: int) -> Tuple[int, ...]:
    normalised: List[int] = []
    for axis in axes:
        if isinstance(axis, bool) or not isinstance(axis, (int, np.integer)):
            raise TypeError(f"axis must be an integer, not {type(axis).__name__}")
        if not -ndim <= axis < ndim:
            raise ValueError(f"axis {axis} is out of range for an array of {ndim} dimensions")
        normalised.append(int(axis) % ndim)
    if len(set(normalised)) != len(normalised):
        raise ValueError(f"axes {tuple(axes)} name the same axis twice")
    return tuple(normalised)


def _worker_count(workers: Optional[int]) -> int:
    if workers is None:
        return _pool.CPUS
    if isinstance(workers, bool) or not isinstance(workers, (int, np.integer)) or workers < 1:
        raise ValueError(f"workers must be a positive integer or None, not {workers!r}")
    return int(workers)
