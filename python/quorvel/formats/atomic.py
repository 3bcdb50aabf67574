"""Outputs that are either complete or absent: written beside their target, then renamed into place."""

from __future__ import annotations

import os
import secrets
import shutil
from pathlib import Path
from typing import BinaryIO, Callable, Tuple

__all__ = ["write_atomically", "write_tree_atomically"]

_CREATE_NEW = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)


def write_atomically(path: Path, write: Callable[[BinaryIO], None], overwrite: bool) -> None:
    """Writes through a temporary file in the same folder, so ``path`` is either untouched or complete.

    Without ``overwrite`` an existing ``path`` is left alone and FileExistsError raised, even
    if it appears while writing.
    """
    temporary, stream = _create_temporary(path)
    try:
        with stream:
            write(stream)
            stream.flush()
            os.fsync(stream.fileno())
        if path.exists() and overwrite:
            shutil.copymode(path, temporary)
        _publish(temporary, path, overwrite)
    finally:
        if temporary.exists():
            temporary.unlink()


def write_tree_atomically(path: Path, write: Callable[[Path], None], overwrite: bool) -> None:
    """Like ``write_atomically`` for writers that take a path and may make a folder there (Zarr stores).

    ``write`` gets a fresh path in the same folder as ``path``. A folder cannot be renamed over
    another without a moment where neither is there, so with ``overwrite`` the old one is
    moved aside first and removed only once the new one is in place.
    """
    temporary = path.with_name(f".{path.name}.{secrets.token_hex(4)}.tmp")
    aside = path.with_name(f".{path.name}.{secrets.token_hex(4)}.old")
    try:
        write(temporary)
        if not os.path.lexists(path):
            os.replace(temporary, path)
            return
        if not overwrite:
            raise FileExistsError(f"{path} exists")
        os.replace(path, aside)
        try:
            os.replace(temporary, path)
        except OSError:
            os.replace(aside, path)
            raise
    finally:
        for leftover in (temporary, aside):
            _remove(leftover)


def _remove(path: Path) -> None:
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path, ignore_errors=True)
    elif os.path.lexists(path):
        path.unlink()


def _create_temporary(path: Path) -> Tuple[Path, BinaryIO]:
    # Not mkstemp: its mode 0600 would stick to the output; 0666 lets the umask decide, as for any new file.
    while True:
        temporary = path.with_name(f".{path.name}.{secrets.token_hex(4)}.tmp")
        try:
            descriptor = os.open(temporary, _CREATE_NEW, 0o666)
        except FileExistsError:
            continue
        return temporary, os.fdopen(descriptor, "wb")


def _publish(temporary: Path, path: Path, overwrite: bool) -> None:
    if overwrite:
        os.replace(temporary, path)
        return
    try:
        os.link(temporary, path)  # fails if path exists, however late it appeared
    except FileExistsError:
        raise
    except OSError:  # no hard links on this file system
        if path.exists():
            raise FileExistsError(f"{path} exists") from None
        os.replace(temporary, path)
