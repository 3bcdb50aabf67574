"""JCAMP-DX (``.jdx``, ``.dx``), the open text format of IR, Raman and UV-Vis spectra.

Reads ``##XYDATA=(X++(Y..Y))`` in plain numbers or any ASDF compression (SQZ, DIF, DUP, PAC)
and ``(XY..XY)`` pairs, in a single block or in the blocks of a compound (LINK) file; each
block with data is one spectrum. ``##NPOINTS=`` is checked against what the file's size can
hold before decoding, and the decoded values against ``##NPOINTS=`` while decoding, so no
header makes the reader allocate more than the file can mean.
"""

from __future__ import annotations

import re
from array import array
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional, Tuple

import numpy as np

from .dataset import DataError, Spectrum

__all__ = ["Jcamp", "read", "looks_like"]

# Run-length (DUP) compression lets a few bytes stand for many values; real spectra never need
# more than a few values per byte, so a claim beyond this is a broken or hostile header.
VALUES_PER_BYTE = 16

_SQZ = {"@": 0, **{c: i for i, c in enumerate("ABCDEFGHI", 1)}, **{c: -i for i, c in enumerate("abcdefghi", 1)}}
_DIF = {"%": 0, **{c: i for i, c in enumerate("JKLMNOPQR", 1)}, **{c: -i for i, c in enumerate("jklmnopqr", 1)}}
_DUP = {**{c: i for i, c in enumerate("STUVWXYZ", 1)}, "s": 9}
_ASDF_ONLY = re.compile(r"[@A-DF-Ia-df-i%J-Rj-rS-Zs]")  # E and e also mean exponents in plain numbers
_ASDF_TOKEN = re.compile(r"[@A-Ia-i%J-Rj-rS-Zs+\-]?[0-9.]*")
_NOT_ASDF = re.compile(r"[^@A-Ia-i%J-Rj-rS-Zs+\-0-9.]")
_NUMBER = re.compile(r"[+\-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[Ee][+\-]?[0-9]+)?")
_SEPARATORS = re.compile(r"[\s,;]+")
_X_Y_Y = "(X++(Y..Y))"
_X_Y = "(XY..XY)"


@dataclass(frozen=True)
class Jcamp:
    spectra: List[Spectrum]
    x_units: str
    y_units: str
    warnings: List[str] = field(default_factory=list)


@dataclass
class _Block:
    title: str
    start: int
    line: int = 0  # of the data table
    labels: Dict[str, str] = field(default_factory=dict)
    form: Optional[str] = None
    data: List[Tuple[int, str]] = field(default_factory=list)


def looks_like(head: bytes) -> bool:
    """Whether a file starting with ``head`` is JCAMP-DX, whatever its name."""
    return re.match(rb"\s*##\s*(TITLE|JCAMP)", head, re.IGNORECASE) is not None


def read(path: Path) -> Jcamp:
    """Every spectrum of a JCAMP-DX file, with its x axis from the header."""
    content = path.read_bytes()
    # DOS-era writers close the file with an end-of-file byte after the last ##END=.
    text = content.decode("utf-8", "replace").rstrip().rstrip("\x1a")
    blocks = _blocks(text.splitlines())
    limit = VALUES_PER_BYTE * len(content) + 16
    warnings: List[str] = []
    spectra = [_spectrum(block, limit, warnings) for block in blocks if block.form is not None]
    if not spectra:
        if any("PEAKTABLE" in block.labels for block in blocks):
            raise DataError("holds a peak table, not a spectrum")
        raise DataError("holds no spectrum (no ##XYDATA= or ##XYPOINTS= block)")
    first = next(block for block in blocks if block.form is not None)
    return Jcamp(spectra, first.labels.get("XUNITS", ""), first.labels.get("YUNITS", ""), warnings)


def _blocks(lines: List[str]) -> List[_Block]:
    """The blocks that hold data or ended, in the order they end; nested (LINK) blocks included."""
    open_blocks: List[_Block] = []
    done: List[_Block] = []
    last: Optional[str] = None  # the label a continuation line belongs to; "" for data
    for number, raw in enumerate(lines, 1):
        line = raw.split("$$", 1)[0].strip()
        if not line:
            continue
        if not line.startswith("##"):
            if not open_blocks or last is None:
                raise DataError(f"{_show(line)} is outside any ##TITLE= block", number)
            block = open_blocks[-1]
            if last == "":
                block.data.append((number, line))
            else:
                block.labels[last] += " " + line
            continue
        label, equals, value = line[2:].partition("=")
        if not equals:
            raise DataError(f"{_show(line)} has no '='", number)
        key, value = re.sub(r"[\s\-/_]", "", label).upper(), value.strip()
        if key == "TITLE":
            open_blocks.append(_Block(value, number))
        elif not open_blocks:
            raise DataError(f"##{label}= comes before any ##TITLE=", number)
        elif key == "END":
            done.append(open_blocks.pop())
        elif key == "NTUPLES":
            raise DataError("NTUPLES data (pages of NMR or mass spectra) is not read", number)
        elif key in ("XYDATA", "XYPOINTS"):
            block = open_blocks[-1]
            if block.form is not None:
                raise DataError("a second data table in one block", number)
            block.form, block.line = value.replace(" ", "").upper(), number
        else:
            open_blocks[-1].labels[key] = value
        last = "" if key in ("XYDATA", "XYPOINTS") else key
        if key in ("TITLE", "END"):
            last = None
    if open_blocks:
        block = open_blocks[-1]
        raise DataError(f"the file ends inside the block {block.title!r} that starts at line {block.start} (no ##END=)")
    return done


def _spectrum(block: _Block, limit: int, warnings: List[str]) -> Spectrum:
    x_factor = _float(block, "XFACTOR", 1.0)
    y_factor = _float(block, "YFACTOR", 1.0)
    if block.form == _X_Y_Y:
        points = _points(block, limit, required=True)
        assert points is not None
        first, last = _float(block, "FIRSTX", None), _float(block, "LASTX", None)
        y = _decode(block, points, warnings)
        x = np.linspace(first, last, points)
    elif block.form == _X_Y:
        points = _points(block, limit, required=False)
        pairs = _pairs(block, points)
        x, y = pairs[:, 0] * x_factor, pairs[:, 1]
    else:
        raise DataError(f"data of the form {block.form} is not read (only {_X_Y_Y} and {_X_Y})", block.line)
    return Spectrum(np.asarray(x, dtype=np.float64), y * y_factor, block.title)


def _decode(block: _Block, points: int, warnings: List[str]) -> np.ndarray:
    """The ordinates of an (X++(Y..Y)) table; each line's leading abscissa is dropped. A check value that
    does not repeat the value before it is a warning: the count of values still has to match."""
    values = array("d")
    ended_in_difference = False
    compressed = any(_ASDF_ONLY.search(line) for _, line in block.data)
    for number, line in block.data:
        decoded, ends_in_difference = _line(line, number, compressed, points + 2 - len(values))
        if len(decoded) < 2:
            raise DataError("a data line without ordinates", number)
        ordinates = decoded[1:]
        if ended_in_difference:  # the line repeats the last value of the one before it, as a check
            if ordinates[0] != values[-1]:
                warnings.append(f"line {number}: the check value {ordinates[0]:g} does not repeat the previous "
                                f"{values[-1]:g}; the line's own values are read")
            ordinates = ordinates[1:]
        if len(values) + len(ordinates) > points:
            raise DataError(f"more values than ##NPOINTS={points}", number)
        values.extend(ordinates)
        ended_in_difference = ends_in_difference
    if len(values) != points:
        raise DataError(f"{len(values)} values where ##NPOINTS={points} (line {block.line} on)")
    return np.frombuffer(values, dtype=np.float64)


def _line(line: str, number: int, compressed: bool, room: int) -> Tuple[List[float], bool]:
    """The values of one data line and whether its last one was written as a difference.

    E and e are both exponents of plain numbers and compressed digits (+5, -5); a table is read
    as compressed when any line has another compressed digit."""
    if not compressed:
        return _plain(line, number), False
    values: List[float] = []
    difference: Optional[float] = None
    for chunk in _SEPARATORS.split(line):
        bad = _NOT_ASDF.search(chunk)
        if bad is not None:
            raise DataError(f"{bad.group()!r} in {_show(line)} is not a JCAMP-DX digit", number)
        for token in filter(None, _ASDF_TOKEN.findall(chunk)):
            difference = _apply(token, values, difference, number, room)
    return values, difference is not None


def _apply(token: str, values: List[float], difference: Optional[float], number: int, room: int) -> Optional[float]:
    """Adds the values of ``token`` to ``values``; returns the difference it ended on, if any."""
    head, rest = token[0], token[1:]
    if head in _DUP:
        count = _digits(str(_DUP[head]) + rest, token, number)
        if not values or len(values) + count - 1 > room:
            raise DataError(f"the repeat count {token!r} has nothing to repeat or is too large", number)
        if difference is None:
            values.extend([values[-1]] * (count - 1))
        else:
            values.extend((values[-1] + np.cumsum(np.full(count - 1, difference))).tolist())
        return difference
    if head in _DIF:
        if not values:
            raise DataError(f"the difference {token!r} has no value before it", number)
        step = _signed(_DIF[head], rest, token, number)
        values.append(values[-1] + step)
        return step
    values.append(_signed(_SQZ[head], rest, token, number) if head in _SQZ else _affn(token, number))
    return None


def _signed(digit: int, rest: str, token: str, number: int) -> float:
    magnitude = _affn(f"{abs(digit)}{rest}", number, token)
    return -magnitude if digit < 0 else magnitude


def _affn(text: str, number: int, token: Optional[str] = None) -> float:
    if not _NUMBER.fullmatch(text):
        raise DataError(f"{token or text!r} is not a number", number)
    return float(text)


def _digits(text: str, token: str, number: int) -> int:
    if not text.isdigit():
        raise DataError(f"the repeat count {token!r} is not a whole number", number)
    return int(text)


def _plain(line: str, number: int) -> List[float]:
    """Numbers separated by spaces, commas, semicolons or their own signs."""
    values: List[float] = []
    position = 0
    while position < len(line):
        separators = _SEPARATORS.match(line, position)
        if separators:
            position = separators.end()
            continue
        match = _NUMBER.match(line, position)
        if match is None:
            raise DataError(f"{line[position:position + 12]!r} is not a number", number)
        values.append(float(match.group()))
        position = match.end()
    return values


def _pairs(block: _Block, points: Optional[int]) -> np.ndarray:
    values: List[float] = []
    for number, line in block.data:
        values.extend(_plain(line, number))
    if len(values) % 2:
        raise DataError(f"an x without its y at the end of the (XY..XY) table from line {block.line}")
    if points is not None and len(values) // 2 != points:
        raise DataError(f"{len(values) // 2} points where ##NPOINTS={points} (line {block.line} on)")
    if not values:
        raise DataError("an empty data table", block.line)
    return np.array(values, dtype=np.float64).reshape(-1, 2)


def _points(block: _Block, limit: int, required: bool) -> Optional[int]:
    text = block.labels.get("NPOINTS")
    if text is None:
        if required:
            raise DataError(f"block {block.title!r} has no ##NPOINTS=", block.start)
        return None
    if not text.isdigit() or int(text) < 1:
        raise DataError(f"##NPOINTS={text} is not a positive whole number", block.line)
    if int(text) > limit:
        raise DataError(f"##NPOINTS={text} is more than a file of this size can hold", block.line)
    return int(text)


def _float(block: _Block, key: str, default: Optional[float]) -> float:
    text = block.labels.get(key)
    if text is None:
        if default is None:
            raise DataError(f"block {block.title!r} has no ##{key}=", block.start)
        return default
    try:
        return float(text)
    except ValueError:
        raise DataError(f"##{key}={text} is not a number", block.line) from None


def _show(line: str) -> str:
    return repr(line if len(line) <= 40 else line[:37] + "...")
