"""What every reader gives the command line: the items of a file and how to write results back."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path
from typing import Callable, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]

__all__ = ["Array", "DataError", "Dataset", "Spectrum", "group_by_length"]


class DataError(Exception):
    """Content that cannot be read as spectra, with the 1-based number of the line (or record) to blame."""

    def __init__(self, reason: str, line: Optional[int] = None, *, record: str = "line") -> None:
        super().__init__(reason if line is None else f"{record} {line}: {reason}")


@dataclass(frozen=True)
class Spectrum:
    """One spectrum of a file that holds several, each with its own x (JCAMP-DX blocks, SPC subfiles)."""

    x: Array
    y: Array
    name: str


@dataclass(frozen=True)
class Dataset:
    """A data file seen as a sequence of items (spectra or images), in groups of one shape.

    ``groups`` are stacks of shape ``(count, samples)`` or ``(count, rows, cols)``; ``label(k)``
    names item ``k`` in messages ("" for a file that holds one); ``write(results, target,
    overwrite)`` writes results shaped like ``groups``; ``x`` is where the samples of the first
    spectrum lie, named ``x_label``; ``description`` says how the file was read.
    """

    groups: Tuple[Array, ...]
    label: Callable[[int], str]
    write: Callable[[Sequence[Array], Path, bool], None]
    x: Optional[Array]
    x_label: str
    y_label: str
    description: str

    @property
    def count(self) -> int:
        return sum(group.shape[0] for group in self.groups)

    @property
    def first(self) -> Array:
        first: Array = self.groups[0][0]
        return first


def group_by_length(spectra: Sequence[Spectrum]) -> Tuple[Array, ...]:
    """Runs of spectra of equal length, each run stacked into one array."""
    groups: List[List[Array]] = []
    for spectrum in spectra:
        if groups and groups[-1][0].size == spectrum.y.size:
            groups[-1].append(spectrum.y)
        else:
            groups.append([spectrum.y])
    return tuple(np.stack(group) for group in groups)
