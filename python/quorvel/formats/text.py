"""Delimited text as instruments write it: metadata lines, a header row, then columns of numbers.

The delimiter (tab, semicolon, pipe, comma or runs of spaces) and the decimal mark are found
from the data lines themselves. A column that holds no number on any data line is a label
column (a class, a file name) and is never read as numbers. Everything before the first data
line is kept as metadata; the last of those lines names the columns when it has as many fields
as the data, and above rows that give the columns' types and flags (``continuous``, ``meta``,
``class``) the line above those does. Comment lines (``#``, ``%``, ``;``) among or after the data
are kept as they are. Writing puts new values into the chosen value fields and keeps every other
character as it was: metadata, other columns, delimiters, padding, trailing delimiters, line
endings, encoding and byte-order mark.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Tuple

import numpy as np
import numpy.typing as npt

from .dataset import Array, DataError

__all__ = ["Layout", "Lines", "Table", "fields", "lines_of", "number", "read", "render"]

# Tried in this order; the first that reads the most data lines, then the most columns, wins.
# Decimal commas are taken only beside another delimiter.
_LAYOUTS = [(d, m) for d in ("\t", ";", "|", ",", None) for m in (".", ",") if not (d == "," and m == ",")]
_SAMPLE = 64  # data lines the layout is judged on, from the end of the file where data is
_NEWLINE = re.compile(r"(\r\n|\n|\r)")
_SPACES = re.compile(r"([ \t]+)")
_COMMENTS = ("#", "%", ";")
# The words of the rows some tables put between their column names and their data.
_TYPES = {"continuous", "discrete", "string", "time", "c", "d", "s", "t"}
_FLAGS = {"meta", "class", "ignore", "weight", "m", "c", "i", "w"}
_LETTERS = {"c", "d", "s", "t", "m", "i", "w"}
_BOMS = [(b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")]


@dataclass(frozen=True)
class Layout:
    delimiter: Optional[str]  # None: runs of spaces or tabs
    decimal: str
    trailing: bool = True  # whether a delimiter at the end of a line closes the last field

    def describe(self, width: int) -> str:
        names = {"\t": "tab", ";": "semicolon", "|": "pipe", ",": "comma", None: "whitespace"}
        separated = "one column" if width == 1 else f"{names[self.delimiter]}-separated"
        return separated + (", decimal comma" if self.decimal == "," else "")


@dataclass(frozen=True)
class Table:
    """A text file: ``values`` holds every data line's numbers, one column per field (NaN in label columns)."""

    lines: List[str]  # every line, without its ending
    endings: List[str]
    rows: List[int]  # indices into ``lines`` of the data lines
    values: Array
    layout: Layout
    header: Optional[List[str]]  # the column names, if the lines before the data give them
    bom: bytes
    encoding: str
    labels: Tuple[int, ...] = ()  # columns with no number on any data line
    typed: bool = False  # whether rows of types or flags sit between the names and the data

    @property
    def width(self) -> int:
        return int(self.values.shape[1])

    def name(self, column: int) -> str:
        """Column ``column`` (0-based) as messages call it: its header name, else its 1-based number."""
        if self.header is not None and self.header[column]:
            return self.header[column]
        return str(column + 1)


@dataclass(frozen=True)
class Lines:
    """A text file's lines without their endings, and what it takes to write them back byte for byte."""

    lines: List[str]
    endings: List[str]
    bom: bytes
    encoding: str


def lines_of(path: Path) -> Lines:
    """The lines of a text file in UTF-8 or, after its byte-order mark, UTF-16."""
    data = path.read_bytes()
    bom, encoding = next(((mark, codec) for mark, codec in _BOMS if data.startswith(mark)), (b"", "utf-8"))
    try:
        # surrogateescape: metadata in any 8-bit encoding goes back out byte for byte.
        text = data[len(bom) :].decode(encoding, "surrogateescape")
    except UnicodeDecodeError as error:
        raise DataError(f"not readable as {encoding} text: {error.reason}") from None
    pieces = _NEWLINE.split(text)
    lines, endings = pieces[0::2], pieces[1::2] + [""]
    if lines[-1] == "" and len(lines) > 1:  # the ending of the last line, not a line of its own
        lines.pop()
        endings.pop()
    return Lines(lines, endings, bom, encoding)


def read(path: Path) -> Table:
    """Reads a delimited text file; DataError names the line that cannot be read and why."""
    source = lines_of(path)
    lines, endings, bom, encoding = source.lines, source.endings, source.bom, source.encoding
    layout, width, labels = _layout(lines)
    start = _first_data_line(lines, layout, width, labels)
    layout = _with_trailing(lines[start], layout)
    rows, values = _parse(lines, start, layout, len(_cells(lines[start], layout)[1]), labels)
    header, typed = _header(lines[:start], layout, width)
    array = np.array(values, dtype=np.float64)
    return Table(lines, endings, rows, array, layout, header, bom, encoding, labels, typed)


def render(table: Table, values: Array, changed: npt.NDArray[np.bool_]) -> bytes:
    """The file with ``values`` (shaped like ``table.values``) in the fields where ``changed`` is true."""
    lines = list(table.lines)
    for row, index in enumerate(table.rows):
        columns = np.flatnonzero(changed[row])
        if not columns.size:
            continue
        pieces, slots = _cells(lines[index], table.layout)
        for column, value in zip(columns.tolist(), values[row, columns].tolist()):
            pieces[slots[column]] = _replace(pieces[slots[column]], _format(value, table.layout.decimal))
        lines[index] = "".join(pieces)
    text = "".join(line + ending for line, ending in zip(lines, table.endings))
    return table.bom + text.encode(table.encoding, "surrogateescape")


def _layout(lines: List[str]) -> Tuple[Layout, int, Tuple[int, ...]]:
    """The layout that reads the most lines of numbers, then the widest ones, and its width; label columns
    only when reading some columns as labels reads more lines (then the fewest label columns win)."""
    sample = [line for line in lines if line.strip() and not _comment(line)][-_SAMPLE:]
    if not sample:
        raise DataError("the file holds no data")
    plain: Tuple[int, int, Tuple[int, ...], Layout] = (0, 0, (), Layout(None, "."))
    labelled = plain
    for delimiter, decimal in _LAYOUTS:
        layout = Layout(delimiter, decimal)
        lines_fields = [fields(line, layout) for line in sample]
        count, width, _ = _score(lines_fields, decimal, ())
        if (count, width) > plain[:2]:
            plain = (count, width, (), layout)
        count, width, labels = _score(lines_fields, decimal, None)
        if labels and (count, -len(labels)) > (labelled[0], -len(labelled[2])):
            labelled = (count, width, labels, layout)
    best = labelled if labelled[0] > plain[0] else plain
    if best[0] == 0:
        raise DataError("the file holds no line of numbers")
    return best[3], best[1], best[2]


def _score(
    rows_fields: List[List[Optional[float]]], decimal: str, labels: Optional[Tuple[int, ...]]
) -> Tuple[int, int, Tuple[int, ...]]:
    """How many lines read as data of the most common width, with ``labels`` as label columns (None: the
    columns of that width with no number on any line)."""
    widths = {len(row) for row in rows_fields if any(value is not None for value in row)}
    if decimal == ",":  # without a delimiter beside it, a comma is one
        widths = {width for width in widths if width > 1}
    best: Tuple[int, int, Tuple[int, ...]] = (0, 0, ())
    for width in widths:
        rows = [row for row in rows_fields if len(row) == width]
        found = labels if labels is not None else _label_columns(rows)
        if len(found) < width:
            count = sum(_is_data(row, found) for row in rows)
            best = max(best, (count, width, found), key=lambda item: item[:2])
    return best


def _label_columns(rows: List[List[Optional[float]]]) -> Tuple[int, ...]:
    return tuple(column for column in range(len(rows[0])) if all(row[column] is None for row in rows))


def _is_data(row: List[Optional[float]], labels: Tuple[int, ...]) -> bool:
    return all(value is not None for column, value in enumerate(row) if column not in labels)


def fields(line: str, layout: Layout) -> List[Optional[float]]:
    """The numbers of a line's fields, None for a field that is not one."""
    pieces, slots = _cells(line, layout)
    return [number(pieces[slot], layout.decimal) for slot in slots]


def _comment(line: str, delimiter: Optional[str] = None) -> bool:
    first = line.lstrip()[:1]
    return first in _COMMENTS and first != delimiter


def _with_trailing(line: str, layout: Layout) -> Layout:
    """The layout, its delimiter closing fields if the first data line ends with one; else an empty
    last field is a missing value."""
    pieces, _ = _cells(line, Layout(layout.delimiter, layout.decimal, False))
    return Layout(layout.delimiter, layout.decimal, len(pieces) > 1 and not pieces[-1].strip())


def _first_data_line(lines: List[str], layout: Layout, width: int, labels: Tuple[int, ...]) -> int:
    """The first line of several numbers (label columns aside) that is not a row of names over rows of types
    or flags; with one column, the first number followed by numbers (a lone number above a header row is
    metadata), else the first number."""
    first: Optional[int] = None
    waiting: Optional[int] = None
    for index, line in enumerate(lines):
        if not line.strip():
            continue
        numbers = _numbers(line, layout, labels)
        if numbers is None:
            waiting = None
        elif width > 1:
            if (len(numbers) > 1 or (labels and len(numbers) == width - len(labels))) and \
                    not _names_over_types(lines, index + 1, layout):
                return index
        elif waiting is not None:
            return waiting
        else:
            waiting = index
            first = index if first is None else first
    start = waiting if waiting is not None else first
    if start is None:
        raise DataError("the file holds no data")
    return start


def _names_over_types(lines: List[str], below: int, layout: Layout) -> bool:
    """Whether the next line from ``below`` gives types or flags, so that the line above it names columns
    (numbers such as wavenumbers, in tables that describe their columns)."""
    following = next((lines[k] for k in range(below, len(lines)) if lines[k].strip() and not _comment(lines[k])),
                     None)
    if following is None:
        return False
    pieces, slots = _cells(following, layout)
    return _describes([pieces[slot].strip().strip("\"'") for slot in slots])


def _parse(
    lines: List[str], start: int, layout: Layout, width: int, labels: Tuple[int, ...]
) -> Tuple[List[int], List[List[float]]]:
    rows: List[int] = []
    values: List[List[float]] = []
    for index in range(start, len(lines)):
        line = lines[index]
        if not line.strip() or _comment(line, layout.delimiter):
            continue
        fast = None if labels else _plain_row(line, layout)
        if fast is not None and len(fast) == width:
            rows.append(index)
            values.append(fast)
            continue
        pieces, slots = _cells(line, layout)
        if len(slots) != width:
            raise DataError(f"{len(slots)} values where line {start + 1} has {width}", index + 1)
        row: List[float] = []
        for column, slot in enumerate(slots, 1):
            value = math.nan if column - 1 in labels else number(pieces[slot], layout.decimal)
            if value is None:
                field = pieces[slot].strip()
                what = "empty value" if not field else f"{field!r} is not a number"
                raise DataError(f"{what} (column {column})", index + 1)
            row.append(value)
        rows.append(index)
        values.append(row)
    return rows, values


def _plain_row(line: str, layout: Layout) -> Optional[List[float]]:
    """The numbers of a line of plain ASCII numbers, read the quick way; None for any other line,
    which ``_cells`` and ``_number`` then read (and explain) field by field."""
    if not line.isascii() or "_" in line or (layout.decimal == "," and "." in line):
        return None
    if layout.decimal == ",":
        line = line.replace(",", ".")
    if layout.delimiter is None:
        texts = [field for field in line.replace("\t", " ").split(" ") if field]
    else:
        texts = line.split(layout.delimiter)
        if layout.trailing and len(texts) > 1 and not texts[-1].strip():
            texts.pop()
    try:
        return [float(field) for field in texts]
    except ValueError:
        return None


def _header(preamble: List[str], layout: Layout, width: int) -> Tuple[Optional[List[str]], bool]:
    """The column names and whether rows of types or flags stand between them and the data; such a row may
    end early (a flag row names only the columns up to the last one flagged)."""
    above = [_names(line, layout, width) for line in [line for line in preamble if line.strip()][-3:]]
    typed = False
    while len(above) > 1 and above[-1] is not None and _describes(above[-1]):
        above.pop()
        typed = True
    names = above[-1] if above else None
    return (names if names is not None and len(names) == width else None), typed


def _names(line: str, layout: Layout, width: int) -> Optional[List[str]]:
    line = line.strip(" ")  # not tabs: a tab-separated header may begin or end with blank names
    if line[:1] in ("#", "%") and layout.delimiter != line[:1]:
        line = line[1:]
    pieces, slots = _cells(line, layout)
    if len(slots) > width:
        return None
    return [pieces[slot].strip().strip("\"'").strip() for slot in slots]


def _describes(cells: List[str]) -> bool:
    """Whether a row gives the columns' types or flags rather than their names. A type row may list a
    discrete column's values, separated by spaces, instead of its type; single letters alone count when
    there are several of them (a header of one or two letters is more likely names)."""
    words = {cell.lower() for cell in cells if cell and not cell.split(maxsplit=1)[1:]}
    listed = any(len(cell.split()) > 1 for cell in cells)
    if not words or not (words <= _TYPES or (words <= _FLAGS and not listed)):
        return False
    return bool(words - _LETTERS) or sum(1 for cell in cells if cell) >= 3


def _cells(line: str, layout: Layout) -> Tuple[List[str], List[int]]:
    """The line cut into fields and the separators between them, and where the fields are."""
    delimiter = layout.delimiter
    if delimiter is None:
        pieces = _SPACES.split(line)
        return pieces, [index for index in range(0, len(pieces), 2) if pieces[index]]
    pieces = re.split(f"({re.escape(delimiter)})", line)
    slots = list(range(0, len(pieces), 2))
    if layout.trailing and len(slots) > 1 and not pieces[slots[-1]].strip():
        slots.pop()
    return pieces, slots


def _numbers(line: str, layout: Layout, labels: Tuple[int, ...] = ()) -> Optional[List[float]]:
    """The numbers of a data line, label columns aside; None for any other line."""
    found = [value for column, value in enumerate(fields(line, layout)) if column not in labels]
    if not found or any(value is None for value in found):
        return None
    return [value for value in found if value is not None]


def number(field: str, decimal: str) -> Optional[float]:
    """The number a field holds, with ``decimal`` as its decimal mark, or None."""
    text = field.strip()
    # float() also takes "1_000" and non-ASCII digits, which no data file means as numbers.
    if "_" in text or not text.isascii():
        return None
    if decimal == ",":
        if "." in text:
            return None
        text = text.replace(",", ".")
    try:
        return float(text)
    except ValueError:
        return None


def _format(value: float, decimal: str) -> str:
    text = repr(value)  # the shortest text that reads back as exactly this float64
    return text.replace(".", ",") if decimal == "," else text


def _replace(field: str, text: str) -> str:
    """``text`` in place of the number in ``field``, keeping the spaces around it."""
    stripped = field.strip()
    if not stripped:
        return text
    start = field.index(stripped)
    return field[:start] + text + field[start + len(stripped) :]
