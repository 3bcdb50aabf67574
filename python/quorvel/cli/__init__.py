"""The ``quorvel`` command: correct data files, list the methods, run the demonstration.

``parser`` builds the command line from the catalogue, ``plan`` checks it and decides where
every result goes before any file is touched, and ``run`` carries the jobs out.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import Callable, Dict, Optional, Sequence

from . import commands, run
from .parser import build
from .plan import UsageError

__all__ = ["main"]

_COMMANDS: Dict[str, Callable[[argparse.Namespace], int]] = {
    "correct": run.correct,
    "methods": commands.methods,
    "demo": commands.demo,
}


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line ``argv`` (default ``sys.argv[1:]``) and returns the exit status."""
    parser = build()
    try:
        arguments = parser.parse_args(argv)
    except SystemExit as stop:  # --help, or a usage error argparse has already reported
        return stop.code if isinstance(stop.code, int) else 2
    try:
        return _COMMANDS[arguments.command](arguments)
    except UsageError as error:
        arguments.parser.print_usage(sys.stderr)
        print(f"{arguments.parser.prog}: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("quorvel: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:  # the reader went away (quorvel demo | head); no traceback for that
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())  # nor at the final flush
        return 1
