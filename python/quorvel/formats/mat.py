"""MATLAB ``.mat`` files (level 5, as MATLAB writes by default), read through SciPy: one numeric matrix of
spectra, and the x axis from a strictly monotonic vector of the file whose length matches one of its sides.
"""

from __future__ import annotations

import io
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from . import mat_walk, optional
from .dataset import Array, DataError

__all__ = ["MAGIC", "Matrix", "read"]

MAGIC = b"MATLAB 5.0 MAT-file"
HINT = "pip install 'quorvel[formats]'"


@dataclass(frozen=True)
class Matrix:
    """The spectra of variable ``name``, one per row, on ``x`` (named ``x_name``) when the file gives one."""

    name: str
    spectra: Array
    x: Optional[Array]
    x_name: str
    along: str  # how the spectra run in the file: "rows", "columns" or "one vector"
    shown: bool  # whether an x vector showed the way, rather than MATLAB's convention


def read(path: Path, var: Optional[str], along: Optional[str]) -> Matrix:
    """The spectra of ``var`` (or of the file's only numeric matrix), along ``along`` when given."""
    variables = _load(path)
    numeric = {name: value for name, value in variables.items() if _numeric(value)}
    name = _choose(numeric, var)
    data = np.asarray(numeric[name], dtype=np.float64)
    if data.ndim > 2 and sum(side > 1 for side in data.shape) > 2:
        raise DataError(f"variable {name} has shape {data.shape}; spectra come from a vector or a matrix")
    data = data.reshape([side for side in data.shape if side > 1] or [1])
    if data.ndim == 1:
        x, x_name = _x(numeric, name, data.size)
        return Matrix(name, data[None, :], x, x_name, "one vector", True)
    rows_x = _x(numeric, name, data.shape[1])
    columns_x = _x(numeric, name, data.shape[0])
    if along is None:
        shown = (rows_x[0] is None) != (columns_x[0] is None)
        along = "columns" if shown and columns_x[0] is not None else "rows"
    else:
        shown = True
    x, x_name = rows_x if along == "rows" else columns_x
    spectra = data if along == "rows" else data.T
    return Matrix(name, np.ascontiguousarray(spectra), x, x_name, along, shown)


def _load(path: Path) -> Dict[str, Any]:
    scipy_io = optional.load("scipy.io", "reading MATLAB files needs scipy", HINT)
    data = path.read_bytes()
    mat_walk.check(data)
    try:
        loaded: Dict[str, Any] = scipy_io.loadmat(io.BytesIO(data), squeeze_me=False)
    except MemoryError:
        raise
    except Exception as error:  # noqa: BLE001 - whatever SciPy raises on a damaged file, it is this file's problem
        raise DataError(f"not a readable MATLAB file: {error}") from None
    return {name: value for name, value in loaded.items() if not name.startswith("__")}


def _numeric(value: Any) -> bool:
    return isinstance(value, np.ndarray) and value.dtype.kind in "biuf" and value.size > 0


def _choose(numeric: Dict[str, Any], var: Optional[str]) -> str:
    matrices = [name for name, value in numeric.items() if sum(side > 1 for side in value.shape) == 2]
    if var is not None:
        if var not in numeric:
            raise DataError(f"has no numeric variable {var!r} (it has {_list(list(numeric))})")
        return var
    if len(matrices) == 1:
        return matrices[0]
    if not matrices and len(numeric) == 1:
        return next(iter(numeric))
    raise DataError(f"holds {len(matrices)} numeric matrices ({_list(matrices)}): name one with --var")


def _x(numeric: Dict[str, Any], name: str, length: int) -> Tuple[Optional[Array], str]:
    """The one strictly monotonic vector of ``length`` values other than ``name``, if there is exactly one."""
    found: List[Tuple[str, Array]] = []
    for other, value in numeric.items():
        vector = np.asarray(value, dtype=np.float64).ravel()
        if other != name and vector.size == length and length > 1 and _monotonic(vector):
            found.append((other, vector))
    if len(found) != 1:
        return None, "sample index"
    return found[0][1], found[0][0]


def _monotonic(x: Array) -> bool:
    steps = np.diff(x)
    return bool(np.all(steps > 0) or np.all(steps < 0))


def _list(names: List[str]) -> str:
    return ", ".join(names) if names else "none"
