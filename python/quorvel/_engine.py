"""The one seam between the package's fronts and the native fits.

A call is resolved once (method, dimension, parameters, item shape, how many samples a mask
leaves, sample positions) into a ``Plan``; the front door, the batch functions, Dask,
scikit-learn and the command line then run one item or a block of items through it.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Dict, Mapping, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _tunable, parameters
from ._arrays import as_positions

Array = npt.NDArray[np.float64]
Flags = Optional[npt.NDArray[np.bool_]]
Failure = Tuple[int, str, Optional[int]]  # item, reason, index of its first non-finite sample

BASELINE, CORRECTED, EVERYTHING = 0, 1, 2


@dataclass(frozen=True)
class Plan:
    """A resolved call: the canonical method, every parameter checked, and x when the method uses it."""

    ndim: int
    name: str
    params: Dict[str, Any]
    item_shape: Tuple[int, ...]
    x: Optional[Array] = None

    def run_block(self, out: Array, block: Array, masks: Flags, want: int) -> Optional[Failure]:
        """Fits the C-contiguous rows of ``block`` (items flattened) into the rows of ``out``, without the
        lock; None, or the first failure."""
        if self.ndim == 1:
            return _tunable.fit_1d_many(out, block, masks, self.x, self.name, self.params, want)
        rows, cols = self.item_shape
        return _tunable.fit_2d_many(out, block, masks, self.x, self.name, self.params, want, rows, cols)

    def run_whole(self, values: Array, flags: Flags) -> Any:
        """The whole fit of one item: baseline, corrected, iterations, convergence, last change, changes and
        weights."""
        function = _tunable.fit_1d if self.ndim == 1 else _tunable.fit_2d
        return function(values, flags, self.x, self.name, self.params, EVERYTHING)


def plan(
    ndim: int,
    method: object,
    params: Mapping[str, Any],
    item_shape: Tuple[int, ...],
    used: Optional[int] = None,
    x: object = None,
) -> Plan:
    """The checked plan of a call on items of ``item_shape`` of which at least ``used`` samples are used.

    Without ``used`` (no items, or extents not known yet: Dask's NaN, or -1) the checks that depend on
    the data are left for later; so is ``x`` while the item's length is unknown.
    """
    name = parameters.canonical(method, ndim)
    shape = None if used is None else parameters.Shape(item_shape, used)
    resolved = parameters.resolve(name, ndim, params, shape)
    positions = None
    if x is not None:
        if ndim != 1:
            raise TypeError("x is taken by the one-dimensional functions only")
        if math.isfinite(item_shape[0]) and item_shape[0] >= 0:
            positions = as_positions(x, int(item_shape[0]))
    return Plan(ndim, name, resolved, tuple(item_shape), positions if name in parameters.USES_X[ndim] else None)
