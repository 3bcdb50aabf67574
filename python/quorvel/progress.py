"""Progress bars on a terminal's stderr, drawn by tqdm when it is installed, otherwise none."""

from __future__ import annotations

import importlib
import sys
from types import ModuleType, TracebackType
from typing import Any, Optional, Type

__all__ = ["Progress", "bar", "say"]


class Progress:
    """A bar of ``total`` steps, or nothing at all; use it as a context manager."""

    def __init__(self, bar: Any = None) -> None:
        self._bar = bar

    def update(self, steps: int = 1) -> None:
        if self._bar is not None:
            self._bar.update(steps)

    def __enter__(self) -> Progress:
        return self

    def __exit__(
        self, kind: Optional[Type[BaseException]], error: Optional[BaseException], trace: Optional[TracebackType]
    ) -> None:
        if self._bar is not None:
            self._bar.close()


def bar(total: int, unit: str, wanted: bool, nested: bool = False) -> Progress:
    """A bar when ``wanted``, tqdm is importable and stderr is a terminal; a silent stand-in otherwise."""
    tqdm = _tqdm() if wanted and sys.stderr.isatty() else None
    if tqdm is None:
        return Progress()
    # delay: runs that finish within a second never flash a bar
    return Progress(tqdm.tqdm(total=total, unit=unit, file=sys.stderr, leave=not nested, delay=1.0))


def say(message: str) -> None:
    """Prints ``message`` on stderr without tearing a bar that is being drawn."""
    tqdm = sys.modules.get("tqdm")
    if tqdm is not None:
        tqdm.tqdm.write(message, file=sys.stderr)
    else:
        print(message, file=sys.stderr)


def _tqdm() -> Optional[ModuleType]:
    try:
        # imported by name so that type checking needs neither tqdm nor its stubs
        return importlib.import_module("tqdm")
    except ImportError:
        return None
