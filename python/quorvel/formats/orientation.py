"""Which way a table's spectra run, from the table's own evidence: along its columns beside a strictly
monotonic first column (an x column), or along its rows under a strictly monotonic line of numbers (an
x row: the column names, or the first data line). Columns that are not samples (coordinates, labels,
classes, indices) are kept as they were. When nothing decides, or the evidence points both ways, the
caller's ``along`` does; without it the spectra are read along columns and the reading says it guessed.
"""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import List, Optional, Tuple

import numpy as np

from . import axis
from .dataset import Array, DataError
from .text import Table, number

__all__ = ["Reading", "describe", "orient"]

# Any two distinct numbers are monotonic: column names that are numbers are meant as such, but a first
# line of a few numbers is monotonic by chance too often (a column file's x and two spectra, half the time).
_FEWEST_NAMED_SAMPLES = 3
_FEWEST_LINE_SAMPLES = 8


@dataclass(frozen=True)
class Reading:
    """How a table is read: ``spectra`` are data lines (indices into ``table.rows``) along rows, columns
    along columns; ``samples`` the other way; ``kept`` the columns written back as they were."""

    along_rows: bool
    spectra: List[int]
    samples: List[int]
    x: Optional[Array]
    x_source: str
    kept: List[int]
    why: str
    x_name: str = "sample index"  # what a plot calls the x axis
    guessed: bool = False


@dataclass(frozen=True)
class _XRow:
    x: Array
    samples: List[int]
    first_line: bool  # the first data line, not the column names
    decisive: bool  # no column beside the samples could be an x column instead


def orient(table: Table, along: Optional[str], x_column: Optional[int], no_x: bool) -> Reading:
    """The reading of ``table``; ``along`` is "rows", "columns" or None (decide from the table)."""
    numeric = [column for column in range(table.width) if column not in table.labels]
    if along == "rows":
        if x_column is not None:
            raise DataError("--x-column names an x column, but --rows reads the spectra along rows")
        return _rows(table, numeric, _x_row(table, numeric), "--rows", no_x)
    if along == "columns" or x_column is not None:
        return _columns(table, numeric, x_column, no_x, "--columns" if along else "--x-column")
    if len(numeric) == 1:
        return _columns(table, numeric, None, no_x, "one column of numbers")
    if len(table.rows) == 1:
        return _rows(table, numeric, None, "one line of numbers", no_x)
    row = _x_row(table, numeric)
    # Against a first line of x, a first column of a few lines is monotonic by chance as often as a short line.
    column = axis.choose(table.values[:, numeric], None, no_x)[0] is not None and not no_x and \
        (row is None or not row.first_line or len(table.rows) >= _FEWEST_LINE_SAMPLES)
    if row is not None and (row.decisive or not column):
        source = "the first data line holds" if row.first_line else "the column names are"
        return _rows(table, numeric, row, f"{source} strictly monotonic numbers", no_x)
    if column and row is None:
        return _columns(table, numeric, None, no_x, "the first column is strictly monotonic")
    why = "both an x row and an x column" if column else "no x row or x column"
    return replace(_columns(table, numeric, None, no_x, why), guessed=True)


def _x_row(table: Table, numeric: List[int]) -> Optional[_XRow]:
    """The column names when enough of them are numbers in strictly monotonic order, else the first data
    line when it is such numbers."""
    if table.header is not None:
        names = [number(table.header[column], table.layout.decimal) for column in numeric]
        samples = [column for column, name in zip(numeric, names) if name is not None]
        x = np.array([name for name in names if name is not None])
        if len(samples) >= _FEWEST_NAMED_SAMPLES and _monotonic(x):
            others = [table.header[column] for column in numeric if column not in samples]
            decisive = table.typed or len(others) != 1 or not others[0] or samples[0] == numeric[0]
            return _XRow(x, samples, False, decisive)
    first = table.values[0, numeric]
    if len(table.rows) > 1 and len(numeric) >= _FEWEST_LINE_SAMPLES and _monotonic(first):
        return _XRow(first.copy(), numeric, True, False)
    return None


def _monotonic(x: Array) -> bool:
    steps = np.diff(x)
    return bool(np.all(steps > 0) or np.all(steps < 0))


def _rows(table: Table, numeric: List[int], row: Optional[_XRow], why: str, no_x: bool) -> Reading:
    samples = numeric if row is None else row.samples
    spectra = list(range(1 if row is not None and row.first_line else 0, len(table.rows)))
    if not spectra:
        raise DataError("the only data line is the x axis: nothing to correct")
    kept = [column for column in range(table.width) if column not in samples]
    if row is None or no_x:
        x, source = None, "sample index (no x row)" if not no_x else "sample index (--no-x)"
    else:
        x = row.x
        source = f"line {table.rows[0] + 1}" if row.first_line else "the column names"
    return Reading(True, spectra, samples, x, source, kept, why, "x" if x is not None else "sample index")


def _columns(table: Table, numeric: List[int], x_column: Optional[int], no_x: bool, why: str) -> Reading:
    if x_column is not None and x_column > table.width:
        raise DataError(f"--x-column {x_column}, but the data lines have {table.width} values")
    if x_column is not None and x_column - 1 in table.labels:
        raise DataError(f"--x-column {x_column} names a column of labels, not numbers")
    given = None if x_column is None else numeric.index(x_column - 1) + 1
    chosen, reason = axis.choose(table.values[:, numeric], given, no_x)
    x_index = None if chosen is None else numeric[chosen]
    spectra = [column for column in numeric if column != x_index]
    if not spectra:
        raise DataError("the only column is the x axis: nothing to correct")
    kept = [column for column in range(table.width) if column not in spectra]
    lines = list(range(len(table.rows)))
    if x_index is None:
        return Reading(False, spectra, lines, None, reason, kept, why, "sample index (no x column)")
    name = table.header[x_index] if table.header is not None else ""
    source = f"column {x_index + 1}" + (f" {name!r}" if name else "") + f" ({reason})"
    x_name = name or f"column {x_index + 1}"
    return Reading(False, spectra, lines, table.values[:, x_index], source, kept, why, x_name)


def describe(table: Table, reading: Reading) -> Tuple[str, str]:
    """How the table was read, and the columns kept as they were, in the command line's words."""
    count = len(reading.spectra)
    way = "one spectrum per row" if reading.along_rows else "one spectrum per column"
    spectra = f"{count} {'spectrum' if count == 1 else 'spectra'} of {len(reading.samples)} samples"
    kept = ", ".join(f"{table.name(column)!r}" if table.header is not None and table.header[column]
                     else f"column {column + 1}" for column in reading.kept)
    return f"{way} ({reading.why}); x axis: {reading.x_source}; {spectra}", kept
