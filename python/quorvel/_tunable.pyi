# The fits behind the package's keywords, masks and reports. `x` is None or the private float64 copy of
# one sample position per sample (grids take None). `method` is any name of the catalogue,
# `params` a dict of its parameters by name (checked by quorvel.parameters; missing ones take their
# defaults) or None; `want` selects the result: 0 the baseline, 1 the corrected values, 2 the tuple of
# a whole fit (its last items the half window the data decided, or None, and the linear solves that stopped at
# cg_max_iter short of cg_tol). A failed fit raises ValueError whose `index` is the first non-finite sample or None.
from typing import Any, Dict, Mapping, Optional, Tuple

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]
Flags = Optional[npt.NDArray[np.bool_]]
Params = Optional[Mapping[str, Any]]
# The block functions take the output rows and None or a float64 array of (iterations, last change,
# converged, short solves) per item first, and give their first failure as
# (item, reason, index of the item's first non-finite sample or None).
Failure = Optional[Tuple[int, str, Optional[int]]]

def catalogue() -> Tuple[Dict[str, Any], ...]: ...
def fit_1d(y: Array, mask: Flags, x: Optional[Array], method: str, params: Params, want: int) -> Any: ...
def fit_2d(data: Array, mask: Flags, x: Optional[Array], method: str, params: Params, want: int) -> Any: ...
def fit_1d_many(
    out: Array, reports: Optional[Array], block: Array, masks: Flags, x: Optional[Array], method: str, params: Params,
    want: int,
) -> Failure: ...
def fit_2d_many(
    out: Array, reports: Optional[Array], block: Array, masks: Flags, x: Optional[Array], method: str, params: Params,
    want: int, rows: int, cols: int,
) -> Failure: ...
