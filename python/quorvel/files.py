"""Spectra in data files: delimited text and ``.npy``, read precisely and written atomically.

A text file holds one column (y), two (x, y) or more (one spectrum per column), with an
optional header line. Writing it back keeps everything that is not a corrected value
exactly as it was: header, x column text, delimiter, line endings, byte-order mark.
"""

from __future__ import annotations

import os
import secrets
import shutil
from dataclasses import dataclass
from pathlib import Path
from typing import BinaryIO, Callable, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]

__all__ = ["DataError", "Dataset", "Table", "load", "is_npy", "read_table", "read_array", "write_atomically"]

_DELIMITERS = {".csv": ",", ".tsv": "\t"}
_BOM = "\ufeff"
_NPY_MAGIC = b"\x93NUMPY"
_CREATE_NEW = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)


class DataError(Exception):
    """Content that cannot be read as spectra, with the 1-based number of the line to blame if one is."""

    def __init__(self, reason: str, line: Optional[int] = None) -> None:
        super().__init__(reason if line is None else f"line {line}: {reason}")


@dataclass(frozen=True)
class Table:
    """A delimited text file: ``spectra`` has one column per spectrum, ``x`` the x column as written."""

    spectra: Array
    x: Optional[List[str]]
    header: Optional[str]
    delimiter: Optional[str]  # None: runs of whitespace
    newline: str
    bom: bool

    def names(self) -> List[str]:
        """How each spectrum column is called in messages: its header name, else its 1-based number."""
        first = 1 if self.x is None else 2
        numbers = [str(first + i) for i in range(self.spectra.shape[1])]
        if self.header is None:
            return numbers
        fields = [field.strip().strip("\"'") for field in _split(self.header, self.delimiter)]
        if len(fields) != len(numbers) + first - 1:
            return numbers
        return [name or number for name, number in zip(fields[first - 1 :], numbers)]

    def x_values(self) -> Array:
        if self.x is None:
            return np.arange(self.spectra.shape[0], dtype=np.float64)
        return np.array([float(text) for text in self.x], dtype=np.float64)

    def render(self, spectra: Array) -> bytes:
        """The file with ``spectra`` in place of the original values, each written to round-trip exactly."""
        separator = " " if self.delimiter is None else self.delimiter
        columns = [[repr(value) for value in column] for column in spectra.T.tolist()]
        if self.x is not None:
            columns.insert(0, self.x)
        lines = [separator.join(row) for row in zip(*columns)]
        if self.header is not None:
            lines.insert(0, self.header)
        text = (_BOM if self.bom else "") + self.newline.join(lines) + self.newline
        return text.encode("utf-8", "surrogateescape")


@dataclass(frozen=True)
class Dataset:
    """A data file seen as a stack of items (spectra or images) that can be saved back in its format.

    ``items`` has shape ``(count, samples)`` or ``(count, rows, cols)``; ``label(k)`` names
    item ``k`` in messages ("" for a file that holds one); ``save`` writes results shaped
    like ``items`` in the file's own format; ``x`` is where the samples of a spectrum lie.
    """

    items: Array
    label: Callable[[int], str]
    save: Callable[[Array, BinaryIO], None]
    x: Optional[Array]


def load(path: Path, two_d: bool) -> Dataset:
    """Reads ``path`` (``.npy`` or text) as spectra, or as images if ``two_d``."""
    if is_npy(path):
        return _npy_dataset(read_array(path), two_d)
    if two_d:
        raise DataError("images can only be read from .npy files")
    table = read_table(path)
    names = table.names()
    lone = len(names) == 1 and table.header is None

    def save(result: Array, stream: BinaryIO) -> None:
        stream.write(table.render(result.T))

    return Dataset(table.spectra.T, lambda k: "" if lone else f"column {names[k]}", save, table.x_values())


def _npy_dataset(data: Array, two_d: bool) -> Dataset:
    item_ndim = 2 if two_d else 1
    if data.ndim < item_ndim:
        noun = "an image" if two_d else "a spectrum"
        raise DataError(f"holds an array of shape {data.shape}, which is not {noun}")
    batch_shape = data.shape[: data.ndim - item_ndim]
    count = int(np.prod(batch_shape, dtype=np.int64))
    items = data.reshape((count,) + data.shape[data.ndim - item_ndim :])
    noun = "image" if two_d else "spectrum"

    def label(k: int) -> str:
        return f"{noun} {tuple(int(i) for i in np.unravel_index(k, batch_shape))}" if batch_shape else ""

    def save(result: Array, stream: BinaryIO) -> None:
        np.save(stream, result.reshape(data.shape), allow_pickle=False)

    return Dataset(items, label, save, None if two_d else np.arange(data.shape[-1], dtype=np.float64))


def is_npy(path: Path) -> bool:
    return path.suffix.lower() == ".npy"


def read_table(path: Path) -> Table:
    """Reads a text file; a first line that is not all numbers is its header."""
    # surrogateescape: a header in any encoding goes back out byte for byte.
    text = path.read_bytes().decode("utf-8", "surrogateescape")
    bom = text.startswith(_BOM)
    lines = text[len(_BOM) :].split("\n") if bom else text.split("\n")
    newline = "\r\n" if lines[0].endswith("\r") else "\n"
    numbered = [(number, line.rstrip("\r")) for number, line in enumerate(lines, 1) if line.strip()]
    if not numbered:
        raise DataError("the file holds no data")
    header, delimiter, numbered = _header_and_delimiter(numbered, _DELIMITERS.get(path.suffix.lower()))
    if not numbered:
        raise DataError("the file holds a header line but no data")
    rows = _parse_rows(numbered, delimiter)
    x: Optional[List[str]] = None
    if len(rows[0]) == 2:
        x = [row[0].strip() for row in rows]
    values = [[float(field) for field in (row[1:] if x is not None else row)] for row in rows]
    return Table(np.array(values, dtype=np.float64), x, header, delimiter, newline, bom)


def _header_and_delimiter(
    numbered: List[Tuple[int, str]], delimiter: Optional[str]
) -> Tuple[Optional[str], Optional[str], List[Tuple[int, str]]]:
    first = numbered[0][1]
    first_delimiter = delimiter if delimiter is not None else _sniff(first)
    if _numbers(_split(first, first_delimiter)):
        return None, first_delimiter, numbered
    rest = numbered[1:]
    if delimiter is None and rest:
        delimiter = _sniff(rest[0][1])
    return first, delimiter, rest


def _sniff(line: str) -> Optional[str]:
    for delimiter in (",", "\t"):
        if delimiter in line:
            return delimiter
    return None


def _split(line: str, delimiter: Optional[str]) -> List[str]:
    return line.split() if delimiter is None else line.split(delimiter)


def _parse_rows(numbered: List[Tuple[int, str]], delimiter: Optional[str]) -> List[List[str]]:
    rows: List[List[str]] = []
    first_number, first_line = numbered[0]
    width = len(_split(first_line, delimiter))
    for number, line in numbered:
        fields = _split(line, delimiter)
        if len(fields) != width:
            raise DataError(f"{len(fields)} values where line {first_number} has {width}", number)
        for column, field in enumerate(fields, 1):
            if not _is_number(field):
                what = "empty value" if not field.strip() else f"{field.strip()!r} is not a number"
                raise DataError(f"{what} (column {column})", number)
        rows.append(fields)
    return rows


def _numbers(fields: Sequence[str]) -> bool:
    return all(_is_number(field) for field in fields)


def _is_number(field: str) -> bool:
    # float() also takes "1_000" and non-ASCII digits, which no data file means as numbers.
    if "_" in field or not field.isascii():
        return False
    try:
        float(field)
    except ValueError:
        return False
    return True


def read_array(path: Path) -> Array:
    """Loads a ``.npy`` file as float64; integer and boolean data are converted."""
    with open(path, "rb") as stream:
        if stream.read(len(_NPY_MAGIC)) != _NPY_MAGIC:
            raise DataError("not a .npy file: it does not start like one")
    try:
        data = np.load(path, allow_pickle=False)
    except (ValueError, EOFError) as error:
        raise DataError(f"not a readable .npy file: {error}") from error
    kind = data.dtype.kind
    if kind not in "biuf":
        raise DataError(f"holds {data.dtype} values, which cannot be read as real numbers")
    return np.asarray(data, dtype=np.float64)


def write_atomically(path: Path, write: Callable[[BinaryIO], None], overwrite: bool) -> None:
    """Writes through a temporary file in the same folder, so ``path`` is either untouched or complete.

    Without ``overwrite`` an existing ``path`` is left alone and FileExistsError raised, even
    if it appears while writing.
    """
    temporary, stream = _create_temporary(path)
    try:
        with stream:
            write(stream)
            stream.flush()
            os.fsync(stream.fileno())
        if path.exists() and overwrite:
            shutil.copymode(path, temporary)
        _publish(temporary, path, overwrite)
    finally:
        if temporary.exists():
            temporary.unlink()


def _create_temporary(path: Path) -> Tuple[Path, BinaryIO]:
    # Not mkstemp: its mode 0600 would stick to the output; 0666 lets the umask decide, as for any new file.
    while True:
        temporary = path.with_name(f".{path.name}.{secrets.token_hex(4)}.tmp")
        try:
            descriptor = os.open(temporary, _CREATE_NEW, 0o666)
        except FileExistsError:
            continue
        return temporary, os.fdopen(descriptor, "wb")


def _publish(temporary: Path, path: Path, overwrite: bool) -> None:
    if overwrite:
        os.replace(temporary, path)
        return
    try:
        os.link(temporary, path)  # fails if path exists, however late it appeared
    except FileExistsError:
        raise
    except OSError:  # no hard links on this file system
        if path.exists():
            raise FileExistsError(f"{path} exists") from None
        os.replace(temporary, path)
