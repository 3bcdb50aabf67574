"""The ``quorvel`` command: correct data files, list the methods, run the demonstration."""

from __future__ import annotations

import argparse
import importlib.util
import os
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, BinaryIO, Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from . import api, batch, demo, formats, parameters, progress
from ._version import __version__
from .formats import cube

Array = npt.NDArray[np.float64]

__all__ = ["main"]

PLOT_HINT = "pip install 'quorvel[plot]'"
FILES_FOR_A_BAR = 4
CHUNK = 16  # the fewest items per batch call; more when there are many, so the bar moves

CORRECT_HELP = """\
Removes the baseline of every spectrum in each FILE and writes the result in the
same format next to it, as NAME_corrected.SUFFIX (NAME_baseline.SUFFIX with --baseline).

text files: columns separated by tabs, semicolons, pipes, commas or spaces, with
  decimal points or (beside tabs, semicolons, pipes, spaces) decimal commas, all
  found from the data lines. Lines before the first data line are metadata; the
  last of them names the columns if it has as many fields. A strictly rising or
  falling first column is the x axis (--x-column N or --no-x decide otherwise);
  every other column is a spectrum. Only the values of the spectra change in the
  output, written with the digits that read back as exactly the same float64.
JCAMP-DX (.jdx, .dx) and SPC (.spc) files: every block or subfile is a spectrum,
  on the x axis of the header; the output is NAME_corrected.csv (x, then a column
  per spectrum; an x and a y column per spectrum if their axes differ).
.npy files: a 1-D array is one spectrum, an N-D array holds spectra along its last
  axis; with --2d a 2-D array is one image, an N-D array holds images over its last
  two axes. Integer and boolean arrays are converted to float64.
NetCDF, HDF5 (.nc, .h5) and Zarr (.zarr) files: the variable --var, along the
  dimension --dim (with --2d, two: --dim ROW --dim COL), written back in the same
  format with everything else in the file unchanged ('quorvel[formats]').

No existing file, the input included, is overwritten without --force, and every
output is either complete or absent. A file that cannot be corrected is reported
on stderr and skipped. Exit status: 0 if every file was written, 1 if some file
failed, 2 for a usage error.
"""

CORRECT_EXAMPLES = """\
examples:
  quorvel correct spectrum.csv               writes spectrum_corrected.csv
  quorvel correct -m arpls --out-dir flat *.txt
  quorvel correct --2d -m rolling_ball image.npy --plot image.png
  quorvel correct -v --x-column 2 export.txt      says which column is x
  quorvel correct --var radiance --dim band cube.nc
"""


class UsageError(Exception):
    """A command line that cannot be carried out as a whole; nothing has been touched."""


class FileFailure(Exception):
    """One input file that could not be corrected; the others go on."""


@dataclass(frozen=True)
class Job:
    source: Path
    target: Path


@dataclass
class Tally:
    """What a run did, for its closing line."""

    files: int = 0
    items: int = 0
    written: int = 0
    failed: int = 0


@dataclass(frozen=True)
class Operation:
    """What ``quorvel correct`` computes for each item."""

    method: str
    two_d: bool
    baseline: bool
    params: Dict[str, Any] = field(default_factory=dict)

    def check(self) -> None:
        """Rejects an unknown method or parameter in the library's words, before any file is read."""
        ndim = 2 if self.two_d else 1
        try:
            parameters.resolve(parameters.canonical(self.method, ndim), ndim, self.params)
        except (TypeError, ValueError) as error:
            raise UsageError(str(error)) from None

    def apply(self, block: Array) -> Array:
        """The result for every item of ``block``, a stack of spectra or images."""
        function: Callable[..., Array]
        if self.two_d:
            function = batch.baseline_2d_many if self.baseline else batch.correct_2d_many
        else:
            function = batch.baseline_many if self.baseline else batch.correct_many
        return function(block, self.method, **self.params)

    def both(self, item: Array) -> Tuple[Array, Array]:
        """Baseline and corrected version of one item (the library's correct is exactly item - baseline)."""
        baseline = (api.baseline_2d if self.two_d else api.baseline)(item, self.method, **self.params)
        return baseline, item - baseline


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line ``argv`` (default ``sys.argv[1:]``) and returns the exit status."""
    parser = _parser()
    try:
        arguments = parser.parse_args(argv)
    except SystemExit as stop:  # --help, or a usage error argparse has already reported
        return stop.code if isinstance(stop.code, int) else 2
    try:
        status: int = arguments.run(arguments)
        return status
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


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quorvel", description="Baseline estimation and removal for spectra and images."
    )
    parser.add_argument("--version", action="version", version=f"quorvel {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    correct = commands.add_parser(
        "correct",
        help="remove the baseline of the spectra (or images) in data files",
        description=CORRECT_HELP,
        epilog=CORRECT_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    correct.add_argument(
        "files", nargs="+", metavar="FILE", type=Path, help="a text, .jdx, .spc, .npy, .nc, .h5 or .zarr file"
    )
    correct.add_argument("-m", "--method", default="asls", help=parameters.method_listing(1))
    where = correct.add_mutually_exclusive_group()
    where.add_argument("-o", "--output", type=Path, metavar="OUT", help="the output file (one input file only)")
    where.add_argument(
        "--out-dir", type=Path, metavar="DIR", help="write each output into DIR under its input's name (DIR is created)"
    )
    correct.add_argument("--baseline", action="store_true", help="write the baseline instead of the corrected signal")
    correct.add_argument(
        "--2d", dest="two_d", action="store_true", help="read .npy or array data as images (2-D, or over two axes)"
    )
    x_axis = correct.add_mutually_exclusive_group()
    x_axis.add_argument(
        "--x-column", type=_column, metavar="N", help="text files: column N (from 1) is the x axis, kept as it is"
    )
    x_axis.add_argument("--no-x", action="store_true", help="text files: no column is an x axis, all are spectra")
    correct.add_argument("--var", metavar="NAME", help="array files: the variable to correct")
    correct.add_argument(
        "--dim",
        dest="dims",
        action="append",
        default=[],
        metavar="NAME",
        help="array files: the spectral dimension (twice with --2d: the image's two)",
    )
    talk = correct.add_mutually_exclusive_group()
    talk.add_argument("-v", "--verbose", action="store_true", help="say how each file was read and where it went")
    talk.add_argument("-q", "--quiet", action="store_true", help="no closing summary line; only problems are reported")
    correct.add_argument(
        "--plot",
        type=Path,
        metavar="PNG",
        help=f"draw the first spectrum or image with its baseline and correction (one input file; {PLOT_HINT})",
    )
    correct.add_argument("--force", action="store_true", help="overwrite existing files, the input included")
    _add_parameter_flags(correct)
    correct.set_defaults(run=_correct, parser=correct)

    methods = commands.add_parser(
        "methods", help="list the baseline methods", description="Lists the baseline methods and their aliases."
    )
    methods.set_defaults(run=_methods, parser=methods)

    show = commands.add_parser(
        "demo",
        help="score every method on a synthetic spectrum and image",
        description="Estimates the baseline of a synthetic spectrum and image, whose true background is known, "
        "with every method and prints the RMS error of each.",
    )
    show.add_argument("--plot", type=Path, metavar="PNG", help=f"also draw the baselines into PNG ({PLOT_HINT})")
    show.add_argument("--force", action="store_true", help="overwrite PNG if it exists")
    show.set_defaults(run=_demo, parser=show)
    return parser


def _column(text: str) -> int:
    try:
        number = int(text)
    except ValueError:
        number = 0
    if number < 1:
        raise argparse.ArgumentTypeError(f"expected a column number from 1, not {text!r}")
    return number


def _reals(text: str) -> Any:
    """A number, or with a comma a pair of numbers (one per grid axis)."""
    values = tuple(float(part) for part in text.split(","))
    return values[0] if len(values) == 1 else values


def _integers(text: str) -> Any:
    values = tuple(int(part) for part in text.split(","))
    return values[0] if len(values) == 1 else values


_PARSERS: Dict[str, Callable[[str], Any]] = {"real": _reals, "integer": _integers, "choice": str}


def _parameter_flags() -> Dict[str, Callable[[str], Any]]:
    """A flag for every parameter of every method in the catalogue, with the parser of its kind; the
    library checks the ranges and names the parameter when one is out."""
    parsers: Dict[str, Callable[[str], Any]] = {}
    for ndim in (1, 2):
        for params in parameters.methods_taking(ndim).values():
            for param in params:
                parsers.setdefault(param.name, _PARSERS[param.kind])
    return parsers


_PARAMETER_FLAGS = _parameter_flags()


def _add_parameter_flags(command: argparse.ArgumentParser) -> None:
    group = command.add_argument_group(
        "method parameters", "each applies to the methods that take it (see help(quorvel.correct)); "
        "a pair A,B sets the two axes of a grid separately"
    )
    for name, parse in _PARAMETER_FLAGS.items():
        found = {
            ndim: param
            for ndim in (2, 1)
            for params in parameters.methods_taking(ndim).values()
            for param in params
            if param.name == name
        }
        defaults = {ndim: repr(param.default) for ndim, param in found.items()}
        if len(defaults) == 1:
            default = f"{next(iter(defaults.values()))}{' with --2d' if 2 in defaults else ''}"
        elif len(set(defaults.values())) == 1:
            default = next(iter(defaults.values()))
        else:
            default = f"{defaults[1]}, or {defaults[2]} with --2d"
        doc = found[min(found)].doc
        group.add_argument("--" + name.replace("_", "-"), dest=name, type=parse, metavar=name.upper(),
                           help=f"{doc} (default {default})")


def _methods(arguments: argparse.Namespace) -> int:
    print(f"1-D methods:         {', '.join(parameters.method_names(1))}")
    print(f"2-D methods (--2d):  {', '.join(parameters.method_names(2))}")
    print(f"Names ignore case; {parameters.alias_listing()} are aliases.")
    return 0


def _demo(arguments: argparse.Namespace) -> int:
    png: Optional[Path] = arguments.plot
    if png is not None and not _plot_ready(png, arguments.force):
        return 1
    scores = demo.score()
    print(scores.table())
    if png is None:
        command = "quorvel demo --plot demo.png"
        print(f"\nfor a picture: {command if _has_matplotlib() else f'{PLOT_HINT} && {command}'}")
        return 0
    from . import plot

    drawn = _save_figure(lambda stream: plot.save_png(plot.demo_figure(scores), stream), png, arguments.force)
    return 0 if drawn else 1


def _correct(arguments: argparse.Namespace) -> int:
    given = {name: getattr(arguments, name) for name in _PARAMETER_FLAGS if getattr(arguments, name) is not None}
    operation = Operation(arguments.method, arguments.two_d, arguments.baseline, given)
    operation.check()
    options = formats.Options(
        arguments.two_d, arguments.x_column, arguments.no_x, arguments.var, tuple(arguments.dims)
    )
    jobs = _plan(arguments)
    png: Optional[Path] = arguments.plot
    force: bool = arguments.force
    if png is not None and not _plot_ready(png, force):
        return 1
    if arguments.out_dir is not None:
        try:
            arguments.out_dir.mkdir(parents=True, exist_ok=True)
        except OSError as error:
            print(f"quorvel: cannot create {arguments.out_dir}: {_reason(error)}", file=sys.stderr)
            return 1
    tally = Tally()
    with progress.bar(len(jobs), "files", wanted=len(jobs) >= FILES_FOR_A_BAR) as bar:
        for job in jobs:
            try:
                dataset = _correct_file(job, operation, options, force, png)
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


def _plan(arguments: argparse.Namespace) -> List[Job]:
    """Where each input goes, refusing command lines that would write one file twice or over an input."""
    sources: List[Path] = arguments.files
    output: Optional[Path] = arguments.output
    if output is not None and len(sources) != 1:
        raise UsageError("-o/--output takes exactly one input file; use --out-dir for several")
    if arguments.plot is not None and len(sources) != 1:
        raise UsageError("--plot takes exactly one input file")
    if arguments.two_d:
        for source in sources:
            if formats.kind(source) not in ("npy", "cube"):
                raise UsageError(f"--2d works on .npy and array (.nc, .h5, .zarr) files only, not {source}")
    if output is not None:
        _check_output(sources[0], output)
    kind = "baseline" if arguments.baseline else "corrected"
    jobs = [Job(source, _target(source, output, arguments.out_dir, kind)) for source in sources]
    _refuse_collisions(jobs, arguments.plot)
    return jobs


def _check_output(source: Path, output: Path) -> None:
    """-o must name a file of the format the input is written in."""
    found = formats.kind(source)
    suffix = output.suffix.lower()
    if found == "cube":
        store = "a .zarr store" if _is_zarr(source) else "a NetCDF or HDF5 file"
        if _is_zarr(source) != _is_zarr(output) or suffix not in cube.SUFFIXES:
            raise UsageError(f"{output}: the output of {source} must be {store} too")
    elif found == "npy":
        if suffix != ".npy":
            raise UsageError(f"{output}: the output of {source} must be a .npy file too")
    elif suffix in (".npy", ".jdx", ".dx", ".spc", *cube.SUFFIXES):
        raise UsageError(f"{output}: the output of {source} is text and cannot be written as {output.suffix}")


def _is_zarr(path: Path) -> bool:
    return cube.SUFFIXES.get(path.suffix.lower()) == "zarr" or path.is_dir()


def _target(source: Path, output: Optional[Path], out_dir: Optional[Path], kind: str) -> Path:
    if output is not None:
        return output
    if out_dir is not None:
        return formats.renamed(source, out_dir)
    return formats.output_path(source, kind)


def _refuse_collisions(jobs: List[Job], png: Optional[Path]) -> None:
    written: Dict[str, Path] = {}
    inputs = {_key(job.source): job.source for job in jobs}
    for job in jobs:
        key = _key(job.target)
        if key in written:
            raise UsageError(f"{written[key]} and {job.source} would both be written to {job.target}")
        if key in inputs and key != _key(job.source):
            raise UsageError(f"the output for {job.source} would replace {inputs[key]}, which is an input too")
        written[key] = job.source
    if png is not None and (_key(png) in written or _key(png) in inputs):
        raise UsageError(f"--plot {png} names a data file")


def _key(path: Path) -> str:
    return os.path.normcase(str(path.resolve()))


def _correct_file(
    job: Job, operation: Operation, options: formats.Options, force: bool, png: Optional[Path]
) -> formats.Dataset:
    if not force:
        _refuse_overwrite(job)
    try:
        dataset = formats.load(job.source, options)
    except formats.DataError as error:
        raise FileFailure(str(error)) from None
    except OSError as error:
        raise FileFailure(f"cannot read: {_reason(error)}") from None
    results = _run(operation, dataset, job.source.name)
    try:
        dataset.write(results, job.target, force)
    except formats.DataError as error:
        raise FileFailure(f"cannot write {job.target}: {error}") from None
    except FileExistsError:
        raise FileFailure(f"{job.target} exists; add --force to overwrite it") from None
    except OSError as error:
        raise FileFailure(f"cannot write {job.target}: {_reason(error)}") from None
    if png is not None:
        _plot_first(png, force, job.source, operation, dataset)
    return dataset


def _refuse_overwrite(job: Job) -> None:
    if _same_file(job.source, job.target):
        raise FileFailure("the output would replace the input itself; add --force to allow that")
    if os.path.lexists(job.target):
        raise FileFailure(f"{job.target} exists; add --force to overwrite it")


def _same_file(a: Path, b: Path) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return _key(a) == _key(b)


def _run(operation: Operation, dataset: formats.Dataset, name: str) -> List[Array]:
    """``operation`` on every item, in chunks so that a progress bar can follow many of them; the bar
    also shows the time spent on one long item (a large image)."""
    count = dataset.count
    chunk = max(CHUNK, -(-count // 100))
    unit = "images" if operation.two_d else "spectra"
    results: List[Array] = []
    done = 0
    with progress.bar(count, unit, wanted=True, nested=True, label=name) as bar:
        for items in dataset.groups:
            result = np.empty(items.shape)
            for start in range(0, items.shape[0], chunk):
                stop = min(start + chunk, items.shape[0])
                try:
                    result[start:stop] = operation.apply(items[start:stop])
                except batch.ItemError as error:
                    label = dataset.label(done + start + error.index[0])
                    raise FileFailure(f"{label}: {error.reason}" if label else error.reason) from None
                bar.update(stop - start)
            results.append(result)
            done += items.shape[0]
    return results


def _plot_first(png: Path, force: bool, source: Path, operation: Operation, dataset: formats.Dataset) -> None:
    from . import plot

    item = dataset.first
    baseline, corrected = operation.both(item)
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

    if not _save_figure(draw, png, force):
        raise FileFailure("the data file is written, but not the plot")


def _has_matplotlib() -> bool:
    try:
        return importlib.util.find_spec("matplotlib") is not None
    except (ImportError, ValueError):  # a broken or half-imported installation
        return False


def _plot_ready(png: Path, force: bool) -> bool:
    """Whether a plot can be drawn into ``png``; says why not on stderr."""
    if not _has_matplotlib():
        print(f"quorvel: plotting needs matplotlib: {PLOT_HINT}", file=sys.stderr)
        return False
    if not force and os.path.lexists(png):
        print(f"quorvel: {png} exists; add --force to overwrite it", file=sys.stderr)
        return False
    return True


def _save_figure(draw: Callable[[BinaryIO], None], png: Path, force: bool) -> bool:
    try:
        formats.write_atomically(png, draw, overwrite=force)
    except FileExistsError:
        progress.say(f"quorvel: {png} exists; add --force to overwrite it")
        return False
    except OSError as error:
        progress.say(f"quorvel: cannot write {png}: {_reason(error)}")
        return False
    return True


def _reason(error: OSError) -> str:
    return error.strerror or str(error)
