"""The small commands: ``quorvel methods`` and ``quorvel demo``."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Optional

from .. import demo as demonstration
from .. import parameters
from . import figures


def methods(arguments: argparse.Namespace) -> int:
    """Prints the methods of each dimension and the aliases."""
    print(f"1-D methods:         {', '.join(parameters.method_names(1))}")
    print(f"2-D methods (--2d):  {', '.join(parameters.method_names(2))}")
    print(f"Names ignore case; {parameters.alias_listing()} are aliases.")
    return 0


def demo(arguments: argparse.Namespace) -> int:
    """Scores every method on the synthetic spectrum and image; with --plot, draws them."""
    png: Optional[Path] = arguments.plot
    if png is not None and not figures.plot_ready(png, arguments.force):
        return 1
    scores = demonstration.score()
    print(scores.table())
    if png is None:
        command = "quorvel demo --plot demo.png"
        print(f"\nfor a picture: {command if figures.has_matplotlib() else f'{figures.PLOT_HINT} && {command}'}")
        return 0
    from .. import plot

    drawn = figures.save_figure(lambda stream: plot.save_png(plot.demo_figure(scores), stream), png, arguments.force)
    return 0 if drawn else 1
