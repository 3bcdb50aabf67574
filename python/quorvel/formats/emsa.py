"""EMSA/MAS spectral data files (``.msa``, ``.emsa``; ISO 22029), as EDS and EELS software write them:
``#KEYWORD : value`` lines, the data between ``#SPECTRUM`` and ``#ENDOFDATA``, either y values row by row
(``#DATATYPE : Y``, ``#NCOLUMNS`` to a line, x from ``#OFFSET`` and ``#XPERCHAN``) or x, y pairs."""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Tuple

import numpy as np
import numpy.typing as npt

from . import text
from .dataset import Array, DataError

__all__ = ["Emsa", "looks_like", "read"]

SUFFIXES = {".msa", ".emsa"}
Indices = npt.NDArray[np.intp]
_KEYWORD = re.compile(r"#\s*([A-Za-z]+)[^:]*:\s*(.*)")


@dataclass(frozen=True)
class Emsa:
    """The file as a table of its data lines; ``cells`` are the (line, field) places of the spectrum's y."""

    table: text.Table
    cells: Tuple[Indices, Indices]
    x: Array
    x_units: str
    y_units: str


def looks_like(head: bytes) -> bool:
    """Whether a file starting with ``head`` is EMSA/MAS, whatever its name."""
    return re.match(rb"\s*#\s*FORMAT\s*:\s*EMSA", head, re.IGNORECASE) is not None


def read(path: Path) -> Emsa:
    """The spectrum of an EMSA/MAS file; DataError names the line that cannot be read."""
    source = text.lines_of(path)
    keys, rows = _scan(source.lines)
    if not rows:
        raise DataError("no data between #SPECTRUM and #ENDOFDATA")
    layout = text.Layout("," if "," in source.lines[rows[0]] else None, ".", True)
    values = [_numbers(source.lines[index], layout, index) for index in rows]
    width = max(len(row) for row in values)
    table_values = np.full((len(rows), width), np.nan)
    for k, row in enumerate(values):
        table_values[k, : len(row)] = row
    table = text.Table(source.lines, source.endings, rows, table_values, layout, None, source.bom, source.encoding)
    pairs = keys.get("DATATYPE", "Y").upper().startswith("XY")
    cells, x = _pairs(table_values) if pairs else _ys(values, keys)
    if "NPOINTS" in keys and _real(keys, "NPOINTS", 0.0) != x.size:
        raise DataError(f"{x.size} values where #NPOINTS is {keys['NPOINTS']}")
    return Emsa(table, cells, x, keys.get("XUNITS", ""), keys.get("YUNITS", ""))


def _scan(lines: List[str]) -> Tuple[Dict[str, str], List[int]]:
    """The keywords and the indices of the data lines."""
    keys: Dict[str, str] = {}
    rows: List[int] = []
    inside = False
    for index, line in enumerate(lines):
        stripped = line.strip()
        keyword = _KEYWORD.match(stripped)
        if keyword is not None:
            name = keyword.group(1).upper()
            if name == "ENDOFDATA":
                break
            keys.setdefault(name, keyword.group(2).strip())
            inside = inside or name == "SPECTRUM"
        elif stripped and inside:
            rows.append(index)
    return keys, rows


def _numbers(line: str, layout: text.Layout, index: int) -> List[float]:
    numbers = text.fields(line, layout)
    for column, value in enumerate(numbers, 1):
        if value is None:
            raise DataError(f"a field that is not a number (field {column})", index + 1)
    return [value for value in numbers if value is not None]


def _pairs(values: Array) -> Tuple[Tuple[Indices, Indices], Array]:
    if values.shape[1] != 2 or np.isnan(values).any():
        raise DataError("#DATATYPE is XY, but the data lines do not hold one x and one y each")
    lines = np.arange(values.shape[0], dtype=np.intp)
    return (lines, np.ones_like(lines)), values[:, 0].copy()


def _ys(values: List[List[float]], keys: Dict[str, str]) -> Tuple[Tuple[Indices, Indices], Array]:
    lines = np.concatenate([np.full(len(row), k) for k, row in enumerate(values)]).astype(np.intp)
    fields = np.concatenate([np.arange(len(row)) for row in values]).astype(np.intp)
    x = _real(keys, "OFFSET", 0.0) + _real(keys, "XPERCHAN", 1.0) * np.arange(lines.size, dtype=np.float64)
    return (lines, fields), x


def _real(keys: Dict[str, str], name: str, default: float) -> float:
    if name not in keys:
        return default
    try:
        return float(keys[name].split()[0].rstrip(","))
    except (ValueError, IndexError):
        raise DataError(f"#{name} : {keys[name]} is not a number") from None
