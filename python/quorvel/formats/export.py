"""Spectra of formats this package reads but does not write (JCAMP-DX, SPC, MATLAB, WiRE), as
comma-separated text.

Spectra on one x axis give the columns x, spectrum 1, spectrum 2, ...; spectra on different
axes give a pair of columns (x, y) each, the shorter ones padded with empty fields. A map gives
one spectrum per row, its coordinates first, under a header row of its x values. Values are
written with the digits that read back as exactly the same float64.
"""

from __future__ import annotations

import csv
import io
import itertools
from typing import BinaryIO, List, Sequence

import numpy as np

from .dataset import Array, Spectrum

__all__ = ["write", "write_map"]


def write(spectra: Sequence[Spectrum], x_label: str, stream: BinaryIO) -> None:
    text = io.TextIOWrapper(stream, encoding="utf-8", newline="")
    writer = csv.writer(text, lineterminator="\n")
    x_name = x_label or "x"
    first = spectra[0].x
    if all(s.x.shape == first.shape and np.array_equal(s.x, first) for s in spectra):
        writer.writerow([x_name] + [s.name for s in spectra])
        columns = [first] + [s.y for s in spectra]
    else:
        writer.writerow([name for s in spectra for name in (f"{x_name} ({s.name})", s.name)])
        columns = [values for s in spectra for values in (s.x, s.y)]
    texts: List[List[str]] = [[repr(value) for value in column.tolist()] for column in columns]
    writer.writerows(itertools.zip_longest(*texts, fillvalue=""))
    text.flush()
    text.detach()


def write_map(spectra: Array, x: Array, coordinates: Array, names: Sequence[str], stream: BinaryIO) -> None:
    """One spectrum per row, its ``coordinates`` (named ``names``) first, under a header row of ``x``."""
    text = io.TextIOWrapper(stream, encoding="utf-8", newline="")
    writer = csv.writer(text, lineterminator="\n")
    writer.writerow(list(names) + [repr(value) for value in x.tolist()])
    for where, row in zip(coordinates.tolist(), spectra.tolist()):
        writer.writerow([repr(value) for value in where + row])
    text.flush()
    text.detach()
