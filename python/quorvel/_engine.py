"""The one seam between the package's fronts and the native fits.

A call is resolved once (method, dimension, parameters, item shape, how many samples a mask
leaves, sample positions) into a ``Plan``; the front door, the batch functions, Dask,
scikit-learn and the command line then run one item or a block of items through it.
"""

from __future__ import annotations

import math
from typing import Any, Dict, Mapping, NamedTuple, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _tunable, parameters
from ._arrays import as_positions

Array = npt.NDArray[np.float64]
Flags = Optional[npt.NDArray[np.bool_]]
Failure = Tuple[int, str, Optional[int]]  # item, reason, index of its first non-finite sample

BASELINE, CORRECTED, EVERYTHING = 0, 1, 2


class Plan(NamedTuple):
    """A resolved call: the canonical method, every parameter checked, and the sample positions when the
    method uses them (spectra: x; grids: the pair of x along axis 0 and z along axis 1, either None)."""

    ndim: int
    name: str
    params: Dict[str, Any]
    item_shape: Tuple[int, ...]
    x: Any = None

    def run_block(self, out: Array, block: Array, masks: Flags, want: int, reports: Optional[Array] = None
                  ) -> Optional[Failure]:
        """Fits the C-contiguous rows of ``block`` (items flattened) into the rows of ``out``, without the
        lock, and each item's iterations, last change, convergence (1 or 0) and linear solves left short into its
        row of ``reports``; None, or the first failure."""
        if self.ndim == 1:
            return _tunable.fit_1d_many(out, reports, block, masks, self.x, self.name, self.params, want)
        rows, cols = self.item_shape
        return _tunable.fit_2d_many(out, reports, block, masks, self.x, self.name, self.params, want, rows, cols)

    def run_whole(self, values: Array, flags: Flags) -> Any:
        """The whole fit of one item: baseline, corrected, iterations, convergence, last change, changes, weights,
        outer iterations, the window the data decided and the linear solves left short."""
        function = _tunable.fit_1d if self.ndim == 1 else _tunable.fit_2d
        return function(values, flags, self.x, self.name, self.params, EVERYTHING)


def plan(
    ndim: int,
    method: object,
    params: Mapping[str, Any],
    item_shape: Tuple[int, ...],
    used: Optional[int] = None,
    x: object = None,
    z: object = None,
) -> Plan:
    """The checked plan of a call on items of ``item_shape`` of which at least ``used`` samples are used.

    ``x`` (and for grids ``z``) are the positions along the item's axes. Without ``used`` (no items, or
    extents not known yet: Dask's NaN, or -1) the checks that depend on the data are left for later; so
    are the positions along an axis of unknown length.
    """
    name = parameters.canonical(method, ndim)
    shape = None if used is None else parameters.Shape(item_shape, used)
    resolved = parameters.resolve(name, ndim, params, shape)
    if x is None and z is None:
        return Plan(ndim, name, resolved, item_shape)
    axes = ((x, "x", "sample"),) if ndim == 1 else ((x, "x", "row (axis 0)"), (z, "z", "column (axis 1)"))
    positions = tuple(
        None if given is None or not _known(extent) else as_positions(given, int(extent), label, per)
        for (given, label, per), extent in zip(axes, item_shape)
    )
    if name not in parameters.USES_X[ndim] or all(axis is None for axis in positions):
        return Plan(ndim, name, resolved, item_shape)
    return Plan(ndim, name, resolved, item_shape, positions[0] if ndim == 1 else positions)


def _known(extent: float) -> bool:
    return math.isfinite(extent) and extent >= 0
