"""What a ``quorvel correct`` command line asks for, checked as a whole before any file is touched:
the operation on every item, and which file each input is written to."""

from __future__ import annotations

import argparse
import os
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Tuple

import numpy as np
import numpy.typing as npt

from .. import _engine, api, batch, convergence, formats, parameters
from .._engine import BASELINE, CORRECTED

Array = npt.NDArray[np.float64]


class UsageError(Exception):
    """A command line that cannot be carried out as a whole; nothing has been touched."""


@dataclass(frozen=True)
class Job:
    source: Path
    target: Path


@dataclass(frozen=True)
class Operation:
    """What ``quorvel correct`` computes for each item."""

    method: str
    two_d: bool
    baseline: bool
    params: Dict[str, Any] = field(default_factory=dict)

    def check(self) -> None:
        """Rejects an unknown method or parameter in the library's words, before any file is read."""
        try:
            _engine.plan(self.ndim, self.method, self.params, (-1,) * self.ndim)
        except (TypeError, ValueError) as error:
            raise UsageError(str(error)) from None

    @property
    def ndim(self) -> int:
        return 2 if self.two_d else 1

    def apply(
        self, block: Array, positions: Any, mask: Optional[npt.NDArray[np.bool_]] = None
    ) -> Tuple[Array, int, Array]:
        """The result for every item of ``block``, a stack of spectra or images on the file's axes
        (``positions``: a spectrum's x, or an image's pair of axes; None where the file has none), fitted on
        the samples ``mask`` marks (all when None), how many of them did not converge, and each one's linear
        solves that stopped short of ``cg_tol``."""
        axes = (-2, -1) if self.two_d else (-1,)
        named = self._positions(positions)
        along = (named.get("x"), named.get("z")) if self.two_d else (named.get("x"),)
        applied = batch.apply(block, self.method, axes, None, mask, self.params,
                              BASELINE if self.baseline else CORRECTED, along)
        reports = applied.reports
        return applied.result, int(np.count_nonzero(reports[..., 2] == 0)), reports[..., 3].ravel()

    def unconverged(self, count: int, total: int) -> str:
        """What the command line says of a file of which ``count`` of ``total`` items did not converge."""
        name = parameters.canonical(self.method, self.ndim)
        resolved = parameters.resolve(name, self.ndim, self.params)
        return convergence.message(count, total, self.ndim, name, resolved)

    def short_solves(self, short: Array) -> str:
        """What the command line says of a file whose items' linear solves stopped short (``short``: per item)."""
        resolved = parameters.resolve(parameters.canonical(self.method, self.ndim), self.ndim, self.params)
        return convergence.short_message(short, self.ndim, resolved)

    def both(self, item: Array, positions: Any) -> Tuple[Array, Array]:
        """Baseline and corrected version of one item (the library's correct is exactly item - baseline)."""
        fit = api.baseline_2d if self.two_d else api.baseline
        finite = np.isfinite(item)
        with warnings.catch_warnings():  # the file's own line already says so
            warnings.simplefilter("ignore", convergence.ConvergenceWarning)
            baseline = fit(item, self.method, mask=None if finite.all() else finite,
                           **{**self.params, **self._positions(positions)})
        return baseline, item - baseline

    def _positions(self, positions: Any) -> Dict[str, Array]:
        # Only the methods that fit on positions get them: the others would refuse axes that are not
        # monotonic.
        if positions is None or parameters.canonical(self.method, self.ndim) not in parameters.USES_X[self.ndim]:
            return {}
        named = zip(("x", "z"), positions) if self.two_d else [("x", positions)]
        return {name: axis for name, axis in named if axis is not None}


class FileFailure(Exception):
    """One input file that could not be corrected; the others go on."""


def jobs(arguments: argparse.Namespace) -> List[Job]:
    """Where each input goes, refusing command lines that would write one file twice or over an input."""
    sources: List[Path] = arguments.files
    output: Optional[Path] = arguments.output
    if output is not None and len(sources) != 1:
        raise UsageError("-o/--output takes exactly one input file; use --out-dir for several")
    if arguments.plot is not None and len(sources) != 1:
        raise UsageError("--plot takes exactly one input file")
    if arguments.two_d:
        for source in sources:
            if not formats.holds_arrays(source):
                raise UsageError(f"--2d works on .npy and array (.nc, .h5, .zarr) files only, not {source}")
    mismatch = None if output is None else formats.output_mismatch(sources[0], output)
    if mismatch is not None:
        raise UsageError(f"{output}: {mismatch}")
    kind = "baseline" if arguments.baseline else "corrected"
    jobs = [Job(source, _target(source, output, arguments.out_dir, kind)) for source in sources]
    _refuse_collisions(jobs, arguments.plot)
    return jobs


def _target(source: Path, output: Optional[Path], out_dir: Optional[Path], kind: str) -> Path:
    if output is not None:
        return output
    if out_dir is not None:
        return formats.renamed(source, out_dir)
    return formats.output_path(source, kind)


def _refuse_collisions(jobs: List[Job], png: Optional[Path]) -> None:
    written: Dict[str, Path] = {}
    inputs = {key(job.source): job.source for job in jobs}
    for job in jobs:
        target = key(job.target)
        if target in written:
            raise UsageError(f"{written[target]} and {job.source} would both be written to {job.target}")
        if target in inputs and target != key(job.source):
            raise UsageError(f"the output for {job.source} would replace {inputs[target]}, which is an input too")
        written[target] = job.source
    if png is not None and (key(png) in written or key(png) in inputs):
        raise UsageError(f"--plot {png} names a data file")


def key(path: Path) -> str:
    """``path`` as the operating system compares paths."""
    return os.path.normcase(str(path.resolve()))
