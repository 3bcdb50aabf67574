"""Delimited text as instruments write it: metadata lines, a header row, then columns of numbers.

The delimiter (tab, semicolon, pipe, comma or runs of spaces) and the decimal mark are found
from the data lines themselves. Everything before the first data line is kept as metadata;
the last of those lines names the columns when it has as many fields as the data. Writing
puts new values into the value fields and keeps every other character as it was: metadata,
x column, delimiters, padding, trailing delimiters, line endings, encoding and byte-order mark.
"""

from __future__ import annotations

import re
from collections import Counter
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Sequence, Tuple

import numpy as np

from .dataset import Array, DataError

__all__ = ["Layout", "Table", "read", "render"]

# Tried in this order; the first that reads the most data lines, then the most columns, wins.
# Decimal commas are taken only beside another delimiter.
_LAYOUTS = [(d, m) for d in ("\t", ";", "|", ",", None) for m in (".", ",") if not (d == "," and m == ",")]
_SAMPLE = 64  # data lines the layout is judged on, from the end of the file where data is
_NEWLINE = re.compile(r"(\r\n|\n|\r)")
_SPACES = re.compile(r"([ \t]+)")
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
    """A text file: ``values`` holds every data line's numbers, one column per field."""

    lines: List[str]  # every line, without its ending
    endings: List[str]
    rows: List[int]  # indices into ``lines`` of the data lines
    values: Array
    layout: Layout
    header: Optional[List[str]]  # the column names, if the line before the data gives them
    bom: bytes
    encoding: str

    @property
    def width(self) -> int:
        return int(self.values.shape[1])

    def name(self, column: int) -> str:
        """Column ``column`` (0-based) as messages call it: its header name, else its 1-based number."""
        if self.header is not None and self.header[column]:
            return self.header[column]
        return str(column + 1)


def read(path: Path) -> Table:
    """Reads a delimited text file; DataError names the line that cannot be read and why."""
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
    layout, width = _layout(lines)
    start = _first_data_line(lines, layout, width)
    layout = _with_trailing(lines[start], layout)
    rows, values = _parse(lines, start, layout, len(_cells(lines[start], layout)[1]))
    header = _header(lines[:start], layout, width)
    return Table(lines, endings, rows, np.array(values, dtype=np.float64), layout, header, bom, encoding)


def render(table: Table, values: Array, keep: Sequence[int]) -> bytes:
    """The file with ``values`` (shaped like ``table.values``) in place, except columns ``keep``."""
    lines = list(table.lines)
    changed = [column for column in range(table.width) if column not in keep]
    texts = [[_format(value, table.layout.decimal) for value in values[:, column].tolist()] for column in changed]
    for row, index in enumerate(table.rows):
        pieces, slots = _cells(lines[index], table.layout)
        for column, column_texts in zip(changed, texts):
            pieces[slots[column]] = _replace(pieces[slots[column]], column_texts[row])
        lines[index] = "".join(pieces)
    text = "".join(line + ending for line, ending in zip(lines, table.endings))
    return table.bom + text.encode(table.encoding, "surrogateescape")


def _layout(lines: List[str]) -> Tuple[Layout, int]:
    sample = [line for line in lines if line.strip()][-_SAMPLE:]
    if not sample:
        raise DataError("the file holds no data")
    best: Tuple[int, int] = (0, 0)
    chosen = Layout(None, ".")
    for delimiter, decimal in _LAYOUTS:
        layout = Layout(delimiter, decimal)
        widths = Counter(len(numbers) for numbers in (_numbers(line, layout) for line in sample) if numbers)
        if decimal == ",":  # without a delimiter beside it, a comma is one
            widths = Counter({width: count for width, count in widths.items() if width > 1})
        if widths:
            width, count = max(widths.items(), key=lambda item: (item[1], item[0]))
            if (count, width) > best:
                best, chosen = (count, width), layout
    if best == (0, 0):
        raise DataError("the file holds no line of numbers")
    return chosen, best[1]


def _with_trailing(line: str, layout: Layout) -> Layout:
    """The layout, its delimiter closing fields if the first data line ends with one; else an empty
    last field is a missing value."""
    pieces, _ = _cells(line, Layout(layout.delimiter, layout.decimal, False))
    return Layout(layout.delimiter, layout.decimal, len(pieces) > 1 and not pieces[-1].strip())


def _first_data_line(lines: List[str], layout: Layout, width: int) -> int:
    """The first line of several numbers; with one column, the first number followed by numbers
    (a lone number above a header row is metadata), else the first number."""
    first: Optional[int] = None
    waiting: Optional[int] = None
    for index, line in enumerate(lines):
        if not line.strip():
            continue
        numbers = _numbers(line, layout)
        if numbers is None:
            waiting = None
        elif width > 1:
            if len(numbers) > 1:
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


def _parse(lines: List[str], start: int, layout: Layout, width: int) -> Tuple[List[int], List[List[float]]]:
    rows: List[int] = []
    values: List[List[float]] = []
    for index in range(start, len(lines)):
        line = lines[index]
        if not line.strip():
            continue
        fast = _plain_row(line, layout)
        if fast is not None and len(fast) == width:
            rows.append(index)
            values.append(fast)
            continue
        pieces, slots = _cells(line, layout)
        if len(slots) != width:
            raise DataError(f"{len(slots)} values where line {start + 1} has {width}", index + 1)
        row: List[float] = []
        for column, slot in enumerate(slots, 1):
            value = _number(pieces[slot], layout.decimal)
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
        fields = [field for field in line.replace("\t", " ").split(" ") if field]
    else:
        fields = line.split(layout.delimiter)
        if layout.trailing and len(fields) > 1 and not fields[-1].strip():
            fields.pop()
    try:
        return [float(field) for field in fields]
    except ValueError:
        return None


def _header(preamble: List[str], layout: Layout, width: int) -> Optional[List[str]]:
    last = next((line for line in reversed(preamble) if line.strip()), None)
    if last is None:
        return None
    last = last.strip()
    if last[:1] in ("#", "%") and layout.delimiter != last[:1]:
        last = last[1:]
    pieces, slots = _cells(last, layout)
    if len(slots) != width:
        return None
    return [pieces[slot].strip().strip("\"'").strip() for slot in slots]


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


def _numbers(line: str, layout: Layout) -> Optional[List[float]]:
    pieces, slots = _cells(line, layout)
    numbers = [_number(pieces[slot], layout.decimal) for slot in slots]
    if not numbers or any(number is None for number in numbers):
        return None
    return [number for number in numbers if number is not None]


def _number(field: str, decimal: str) -> Optional[float]:
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
