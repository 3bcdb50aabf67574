"""Which column of a table is its x axis: the one named on the command line, else a strictly
monotonic first column (rising or falling), else none. That column is never rewritten."""

from __future__ import annotations

from typing import Optional, Tuple

import numpy as np

from .dataset import Array, DataError

__all__ = ["choose"]


def choose(values: Array, x_column: Optional[int], no_x: bool) -> Tuple[Optional[int], str]:
    """The 0-based x column of ``values`` (rows by columns), given the 1-based ``x_column``, and why:
    a word on the column chosen, or a sentence on why there is none."""
    width = values.shape[1]
    if no_x:
        return None, "no x column (--no-x)"
    if x_column is not None:
        if x_column > width:
            raise DataError(f"--x-column {x_column}, but the data lines have {width} values")
        return x_column - 1, "--x-column"
    if width < 2:
        return None, "no x column (one column)"
    steps = np.diff(values[:, 0])
    if steps.size and bool(np.all(steps > 0)):
        return 0, "rising"
    if steps.size and bool(np.all(steps < 0)):
        return 0, "falling"
    return None, "no x column (column 1 is not strictly monotonic, so it is a spectrum; --x-column 1 says otherwise)"
