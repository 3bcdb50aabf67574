"""What every reader gives the command line: the items of a file and how to write results back."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]

__all__ = ["Array", "DataError", "Dataset", "Spectrum", "group_by_axis"]


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
    spectrum lie, named ``x_label``; ``description`` says how the file was read; ``positions``
    holds each group's x axis (None where the file gives none), for images the pair of the axes
    along rows and columns; ``notes`` are warnings on how the file was read, said even when quiet.
    """

    groups: Tuple[Array, ...]
    label: Callable[[int], str]
    write: Callable[[Sequence[Array], Path, bool], None]
    x: Optional[Array]
    x_label: str
    y_label: str
    description: str
    positions: Tuple[Any, ...]
    notes: Tuple[str, ...] = ()

    @property
    def count(self) -> int:
        return sum(group.shape[0] for group in self.groups)

    @property
    def first(self) -> Array:
        first: Array = self.groups[0][0]
        return first


def group_by_axis(spectra: Sequence[Spectrum]) -> Tuple[Tuple[Array, ...], Tuple[Optional[Array], ...]]:
    """Runs of spectra on the same x axis, each run stacked into one array, and each run's x axis."""
    groups: List[List[Array]] = []
    axes: List[Array] = []
    for spectrum in spectra:
        if axes and np.array_equal(axes[-1], spectrum.x):
            groups[-1].append(spectrum.y)
        else:
            groups.append([spectrum.y])
            axes.append(spectrum.x)
    return tuple(np.stack(group) for group in groups), tuple(axes)
