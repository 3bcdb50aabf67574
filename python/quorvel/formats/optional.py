"""The readers' optional dependencies, imported when a file needs one, with our error when it is missing or does
not load."""

from __future__ import annotations

import importlib
import importlib.util
from typing import Any

from .dataset import DataError

__all__ = ["load"]


def load(module: str, needs: str, hint: str) -> Any:
    """``module``, or DataError saying that ``needs`` (e.g. "reading WiRE files needs renishaw-wdf") and ``hint``."""
    if importlib.util.find_spec(module.split(".")[0]) is None:
        raise DataError(f"{needs}: {hint}")
    try:
        return importlib.import_module(module)
    except Exception as error:  # noqa: BLE001 - renishaw-wdf 1.4 claims Python 3.8 but fails to import before 3.10
        raise DataError(f"{needs}, which does not load here: {error}") from None
