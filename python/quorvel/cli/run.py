"""``quorvel correct`` carried out: each job read, corrected in chunks under a progress bar, and written."""

from __future__ import annotations

import argparse
import os
import sys
from dataclasses import dataclass, replace
from pathlib import Path
from typing import List, Optional, Tuple

import numpy as np
import numpy.typing as npt

from .. import batch, formats, progress
from . import figures, plan
from .parser import given_parameters
from .plan import FileFailure, Job, Operation

Array = npt.NDArray[np.float64]

FILES_FOR_A_BAR = 4
CHUNK = 16  # the fewest items per batch call; more when there are many, so the bar moves


@dataclass
class Tally:
    """What a run did, for its closing line."""

    files: int = 0
    items: int = 0
    written: int = 0
    failed: int = 0


def correct(arguments: argparse.Namespace) -> int:
    """``quorvel correct``: every input file corrected into its own output; 1 when some failed."""
    operation = Operation(arguments.method, arguments.two_d, arguments.baseline, given_parameters(arguments))
    operation.check()
    options = formats.Options(
        arguments.two_d, arguments.x_column, arguments.no_x, arguments.along, arguments.var, tuple(arguments.dims)
    )
    jobs = plan.jobs(arguments)
    png: Optional[Path] = arguments.plot
    force: bool = arguments.force
    if png is not None and not figures.plot_ready(png, force):
        return 1
    if arguments.out_dir is not None:
        try:
            arguments.out_dir.mkdir(parents=True, exist_ok=True)
        except OSError as error:
            print(f"quorvel: cannot create {arguments.out_dir}: {figures.reason(error)}", file=sys.stderr)
            return 1
    tally = Tally()
    with progress.bar(len(jobs), "files", wanted=len(jobs) >= FILES_FOR_A_BAR) as bar:
        for job in jobs:
            try:
                dataset, unconverged, short = _correct_file(job, operation, options, force, png, arguments.strict)
                for note in dataset.notes:
                    progress.say(f"quorvel: {job.source}: {note}")
                if unconverged:
                    progress.say(f"quorvel: {job.source}: {operation.unconverged(unconverged, dataset.count)}")
                if short.any():
                    progress.say(f"quorvel: {job.source}: {operation.short_solves(short)}")
                tally.files += 1
                tally.items += dataset.count
                tally.written += 1 + (png is not None)
                if arguments.verbose:
                    progress.say(f"quorvel: {job.source}: {dataset.description}; written to {job.target}")
            except FileFailure as error:
                progress.say(f"quorvel: {job.source}: {error}")
                tally.failed += 1
            except MemoryError:
                progress.say(f"quorvel: {job.source}: not enough memory")
                tally.failed += 1
            bar.update()
    if not arguments.quiet:
        progress.say(_summary(tally, operation))
    return 1 if tally.failed else 0


def _summary(tally: Tally, operation: Operation) -> str:
    noun = "image" if operation.two_d else "spectrum"
    nouns = "images" if operation.two_d else "spectra"
    line = (
        f"quorvel: {_count(tally.files, 'file', 'files')} {'corrected' if not operation.baseline else 'read'}, "
        f"{_count(tally.items, noun, nouns)}, {_count(tally.written, 'output', 'outputs')} written"
    )
    return line + (f"; {_count(tally.failed, 'file', 'files')} failed" if tally.failed else "")


def _count(count: int, one: str, many: str) -> str:
    return f"{count} {one if count == 1 else many}"


def _correct_file(
    job: Job, operation: Operation, options: formats.Options, force: bool, png: Optional[Path], strict: bool
) -> Tuple[formats.Dataset, int, Array]:
    if not force:
        _refuse_overwrite(job)
    try:
        dataset = formats.load(job.source, options)
    except formats.DataError as error:
        raise FileFailure(str(error)) from None
    except OSError as error:
        raise FileFailure(f"cannot read: {figures.reason(error)}") from None
    finite = [np.isfinite(group) for group in dataset.groups]
    missing = _non_finite(finite, strict)
    if missing:
        dataset = replace(dataset, notes=dataset.notes + (missing,))
    results, unconverged, short = _run(operation, dataset, finite, job.source.name)
    try:
        dataset.write(results, job.target, force)
    except formats.DataError as error:
        raise FileFailure(f"cannot write {job.target}: {error}") from None
    except FileExistsError:
        raise FileFailure(f"{job.target} exists; add --force to overwrite it") from None
    except OSError as error:
        raise FileFailure(f"cannot write {job.target}: {figures.reason(error)}") from None
    if png is not None:
        figures.plot_first(png, force, job.source, operation, dataset)
    return dataset, unconverged, short


def _non_finite(finite: List[npt.NDArray[np.bool_]], strict: bool) -> str:
    """What the file's NaN and infinite samples (false in ``finite``) come to: left out of the fit, said in a
    note (refused with ``strict``)."""
    count = sum(int(flags.size - np.count_nonzero(flags)) for flags in finite)
    if not count:
        return ""
    samples = _count(count, "sample is", "samples are")
    if strict:
        raise FileFailure(f"{samples} NaN or infinite (--strict)")
    return f"{samples} NaN or infinite: left out of the fit and written back as they were"


def _refuse_overwrite(job: Job) -> None:
    if _same_file(job.source, job.target):
        raise FileFailure("the output would replace the input itself; add --force to allow that")
    if os.path.lexists(job.target):
        raise FileFailure(f"{job.target} exists; add --force to overwrite it")


def _same_file(a: Path, b: Path) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return plan.key(a) == plan.key(b)


def _run(
    operation: Operation, dataset: formats.Dataset, finite_groups: List[npt.NDArray[np.bool_]], name: str
) -> Tuple[List[Array], int, Array]:
    """``operation`` on every item, in chunks so that a progress bar can follow many of them (the bar
    also shows the time spent on one long item, a large image), how many items did not converge, and each
    item's linear solves left short."""
    count = dataset.count
    chunk = max(CHUNK, -(-count // 100))
    unit = "images" if operation.two_d else "spectra"
    results: List[Array] = []
    shorts: List[Array] = []
    done = unconverged = 0
    with progress.bar(count, unit, wanted=True, nested=True, label=name) as bar:
        for items, x, finite in zip(dataset.groups, dataset.positions, finite_groups):
            result = np.empty(items.shape)
            masks = None if finite.all() else finite
            for start in range(0, items.shape[0], chunk):
                stop = min(start + chunk, items.shape[0])
                try:
                    mask = None if masks is None else masks[start:stop]
                    result[start:stop], missed, short = operation.apply(items[start:stop], x, mask)
                    unconverged += missed
                    shorts.append(short)
                except batch.ItemError as error:
                    label = dataset.label(done + start + error.index[0])
                    raise FileFailure(f"{label}: {error.reason}" if label else error.reason) from None
                except ValueError as error:  # a parameter that does not fit this file's data
                    raise FileFailure(str(error)) from None
                bar.update(stop - start)
            if masks is not None:
                result[~finite] = items[~finite]
            results.append(result)
            done += items.shape[0]
    return results, unconverged, np.concatenate(shorts) if shorts else np.zeros(0)
