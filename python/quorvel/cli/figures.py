"""Pictures of a correction: whether they can be drawn, and drawing them into a PNG file."""

from __future__ import annotations

import importlib.util
import os
import sys
from pathlib import Path
from typing import BinaryIO, Callable

import numpy as np

from .. import formats, progress
from .plan import FileFailure, Operation

PLOT_HINT = "pip install 'quorvel[plot]'"


def plot_first(png: Path, force: bool, source: Path, operation: Operation, dataset: formats.Dataset) -> None:
    """Draws the first item of ``dataset`` with its baseline and correction into ``png``."""
    from .. import plot

    item = dataset.first
    baseline, corrected = operation.both(item, dataset.positions[0])
    count = dataset.count
    title = f"{source.name}, {operation.method}"
    if count > 1:
        noun = "images" if operation.two_d else "spectra"
        title += f": {dataset.label(0)}, the first of {count} {noun}"

    def draw(stream: BinaryIO) -> None:
        if operation.two_d:
            figure = plot.image_figure(item, baseline, corrected, title)
        else:
            x = dataset.x if dataset.x is not None else np.arange(item.size, dtype=np.float64)
            labels = (dataset.x_label, dataset.y_label)
            figure = plot.spectrum_figure(x, item, baseline, corrected, title, labels)
        plot.save_png(figure, stream)

    if not save_figure(draw, png, force):
        raise FileFailure("the data file is written, but not the plot")


def has_matplotlib() -> bool:
    """Whether matplotlib can be imported, without importing it."""
    try:
        return importlib.util.find_spec("matplotlib") is not None
    except (ImportError, ValueError):  # a broken or half-imported installation
        return False


def plot_ready(png: Path, force: bool) -> bool:
    """Whether a plot can be drawn into ``png``; says why not on stderr."""
    if not has_matplotlib():
        print(f"quorvel: plotting needs matplotlib: {PLOT_HINT}", file=sys.stderr)
        return False
    if not force and os.path.lexists(png):
        print(f"quorvel: {png} exists; add --force to overwrite it", file=sys.stderr)
        return False
    return True


def save_figure(draw: Callable[[BinaryIO], None], png: Path, force: bool) -> bool:
    """Writes ``png`` through ``draw`` as a whole or not at all; says why not on stderr."""
    try:
        formats.write_atomically(png, draw, overwrite=force)
    except FileExistsError:
        progress.say(f"quorvel: {png} exists; add --force to overwrite it")
        return False
    except OSError as error:
        progress.say(f"quorvel: cannot write {png}: {reason(error)}")
        return False
    return True


def reason(error: OSError) -> str:
    """The operating system's words for ``error``."""
    return error.strerror or str(error)
