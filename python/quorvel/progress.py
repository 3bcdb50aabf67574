"""Progress bars on a terminal's stderr, drawn by tqdm when it is installed, otherwise none.

A bar keeps its elapsed time moving while one long computation runs between two updates:
the native functions release the interpreter lock, so a thread can redraw it.
"""

from __future__ import annotations

import importlib
import sys
import threading
from types import ModuleType, TracebackType
from typing import Any, Optional, Type

__all__ = ["Progress", "bar", "say"]

DELAY = 1.0  # seconds before a bar appears: runs that finish sooner never flash one
TICK = 0.5


class Progress:
    """A bar of ``total`` steps, or nothing at all; use it as a context manager."""

    def __init__(self, bar: Any = None) -> None:
        self._bar = bar
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._ticker: Optional[threading.Thread] = None
        if bar is not None:
            self._ticker = threading.Thread(target=self._tick, name="quorvel-progress", daemon=True)
            self._ticker.start()

    def update(self, steps: int = 1) -> None:
        if self._bar is not None:
            with self._lock:
                self._bar.update(steps)

    def _tick(self) -> None:
        while not self._stop.wait(TICK):
            with self._lock:
                self._bar.update(0)  # redraws (elapsed time) once the delay has passed

    def __enter__(self) -> Progress:
        return self

    def __exit__(
        self, kind: Optional[Type[BaseException]], error: Optional[BaseException], trace: Optional[TracebackType]
    ) -> None:
        if self._bar is not None:
            self._stop.set()
            if self._ticker is not None:
                self._ticker.join()
            self._bar.close()


def bar(total: int, unit: str, wanted: bool, nested: bool = False, label: str = "") -> Progress:
    """A bar when ``wanted``, tqdm is importable and stderr is a terminal; a silent stand-in otherwise."""
    tqdm = _tqdm() if wanted and sys.stderr.isatty() else None
    if tqdm is None:
        return Progress()
    # miniters=0: every update may redraw (at most every mininterval), including the ticker's empty ones
    return Progress(
        tqdm.tqdm(
            total=total, unit=unit, desc=label or None, file=sys.stderr, leave=not nested, delay=DELAY, miniters=0
        )
    )


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
