"""The command line's arguments: the commands, and a flag for every parameter in the catalogue."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any, Callable, Dict, List

import numpy as np

from .. import parameters
from .._version import __version__
from .figures import PLOT_HINT

CORRECT_HELP = """\
Removes the baseline of every spectrum in each FILE and writes the result in the
same format next to it, as NAME_corrected.SUFFIX (NAME_baseline.SUFFIX with --baseline).

text files: columns separated by tabs, semicolons, pipes, commas or spaces, with
  decimal points or (beside tabs, semicolons, pipes, spaces) decimal commas, all
  found from the data lines. Lines before the first data line are metadata; the
  last of them names the columns if it has as many fields. A strictly rising or
  falling first column is the x axis and every other column a spectrum; column
  names that are strictly monotonic numbers, or a first line of 8 or more such
  numbers, are an x row and every line below it a spectrum. Columns of labels,
  coordinates or indices are kept. When the file shows neither way, columns are
  read and a warning says so (--rows, --columns, --x-column N, --no-x decide).
  NaN and infinite cells are left out of the fit (--strict refuses them). Only
  the values of the spectra change in the output, written with the digits that
  read back as exactly the same float64.
JCAMP-DX (.jdx, .dx), SPC (.spc) and MATLAB (.mat) files: every block, subfile or
  matrix row is a spectrum, on the x axis of the header (or the .mat file's x
  vector); the output is NAME_corrected.csv (x, then a column per spectrum; an x
  and a y column per spectrum if their axes differ).
EMSA/MAS (.msa) files: the spectrum, written back in place.
Bruker OPUS (NAME.0, ...; 'quorvel[vendor]'), Thermo OMNIC (.spa) and PerkinElmer
  (.sp) files: the spectrum (for OPUS the result, or the one --var names: sm, rf,
  ...), on the header's x axis; the output is NAME_corrected.csv (NAME_0_... for
  OPUS).
.npy files: a 1-D array is one spectrum, an N-D array holds spectra along its last
  axis; with --2d a 2-D array is one image, an N-D array holds images over its last
  two axes. Integer and boolean arrays are converted to float64.
NetCDF, HDF5 (.nc, .h5) and Zarr (.zarr) files: the variable --var, along the
  dimension --dim (with --2d, two: --dim ROW --dim COL), written back in the same
  format with everything else in the file unchanged ('quorvel[formats]'); in HDF5,
  --var takes a path inside groups (entry/data/counts).

The x axis of a file (a text column, the header's axis of JCAMP-DX and SPC files, an
array file's numeric coordinate) goes to the methods that fit on it: {uses}.

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



def build() -> argparse.ArgumentParser:
    """The ``quorvel`` command line and its three commands."""
    parser = argparse.ArgumentParser(
        prog="quorvel", description="Baseline estimation and removal for spectra and images."
    )
    parser.add_argument("--version", action="version", version=f"quorvel {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    correct = commands.add_parser(
        "correct",
        help="remove the baseline of the spectra (or images) in data files",
        description=CORRECT_HELP.format(uses=parameters.listing(sorted(parameters.USES_X[1]), "and")),
        epilog=CORRECT_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    correct.add_argument(
        "files", nargs="+", metavar="FILE", type=Path,
        help="a text, .jdx, .spc, .msa, .mat, .wdf, OPUS, .spa, .sp, .npy, .nc, .h5 or .zarr file",
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
        "--x-column",
        type=_column,
        metavar="N",
        help="text files: column N (from 1) is the x axis, kept as it is",
    )
    x_axis.add_argument("--no-x", action="store_true", help="text files: no column or row is an x axis")
    along = correct.add_mutually_exclusive_group()
    along.add_argument("--rows", dest="along", action="store_const", const="rows",
                       help="text files: one spectrum per row (when the file does not show which way they run)")
    along.add_argument("--columns", dest="along", action="store_const", const="columns",
                       help="text files: one spectrum per column (the reading when the file does not show it)")
    correct.add_argument("--strict", action="store_true",
                         help="refuse samples that are NaN or infinite instead of leaving them out of the fit")
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
    correct.set_defaults(parser=correct)

    methods = commands.add_parser(
        "methods", help="list the baseline methods", description="Lists the baseline methods and their aliases."
    )
    methods.set_defaults(parser=methods)

    show = commands.add_parser(
        "demo",
        help="score every method on a synthetic spectrum and image",
        description="Estimates the baseline of a synthetic spectrum and image, whose true background is known, "
        "with every method and prints the RMS error of each.",
    )
    show.add_argument("--plot", type=Path, metavar="PNG", help=f"also draw the baselines into PNG ({PLOT_HINT})")
    show.add_argument("--force", action="store_true", help="overwrite PNG if it exists")
    show.set_defaults(parser=show)
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


def _samples_file(path: str) -> Any:
    """The values in a file: .npy as saved by NumPy, anything else as text (commas or blanks between values)."""
    try:
        if path.endswith(".npy"):
            return np.load(path, allow_pickle=False)
        with open(path, encoding="utf-8") as text:
            return np.loadtxt(text.read().replace(",", " ").splitlines(), ndmin=1)
    except (OSError, ValueError) as error:
        raise argparse.ArgumentTypeError(f"cannot read the values in {path!r}: {error}") from None


def _points_file(path: str) -> Any:
    """(x, y) rows in a file: .npy as saved by NumPy, anything else as text (commas or blanks between values)."""
    values = _samples_file(path)
    return values.reshape(1, -1) if values.ndim == 1 else values


def _flag_text(text: str) -> bool:
    """true or false (also yes/no, on/off, 1/0), in any case."""
    word = text.lower()
    if word in ("true", "yes", "on", "1"):
        return True
    if word in ("false", "no", "off", "0"):
        return False
    raise argparse.ArgumentTypeError(f"expected true or false, not {text!r}")


_PARSERS: Dict[str, Callable[[str], Any]] = {"real": _reals, "integer": _integers, "choice": str,
                                              "samples": _samples_file, "flag": _flag_text, "points": _points_file}


def _parameter_flags() -> Dict[str, Callable[[str], Any]]:
    """A flag for every parameter of every method in the catalogue, with the parser of its kind; the
    library checks the ranges and names the parameter when one is out."""
    parsers: Dict[str, Callable[[str], Any]] = {}
    for ndim in (1, 2):
        for params in parameters.methods_taking(ndim).values():
            for param in params:
                parsers.setdefault(param.name, _PARSERS[param.kind])
    return parsers


PARAMETER_FLAGS = _parameter_flags()


def given_parameters(arguments: argparse.Namespace) -> Dict[str, Any]:
    """The method parameters set on the command line, by name."""
    return {name: getattr(arguments, name) for name in PARAMETER_FLAGS if getattr(arguments, name) is not None}


def _default_text(params: List[parameters.Param]) -> str:
    """The default the methods share, or a pointer to each method's own."""
    values = {repr(param.default) for param in params}
    if len(values) == 1:
        return values.pop()
    return "the method's own"


def _add_parameter_flags(command: argparse.ArgumentParser) -> None:
    group = command.add_argument_group(
        "method parameters", "each applies to the methods that take it (see help(quorvel.correct)); "
        "a pair A,B sets the two axes of a grid separately"
    )
    for name, parse in PARAMETER_FLAGS.items():
        found = {
            ndim: [param for params in parameters.methods_taking(ndim).values() for param in params
                   if param.name == name]
            for ndim in (1, 2)
        }
        defaults = {ndim: _default_text(params) for ndim, params in found.items() if params}
        if len(defaults) == 1:
            default = f"{next(iter(defaults.values()))}{' with --2d' if 2 in defaults else ''}"
        elif len(set(defaults.values())) == 1:
            default = next(iter(defaults.values()))
        else:
            default = f"{defaults[1]}, or {defaults[2]} with --2d"
        doc = next(params for params in found.values() if params)[0].doc
        metavar = name.upper()
        if parse is _samples_file:
            doc, metavar = doc + "; here a .npy or text FILE of one value per sample", "FILE"
        if parse is _points_file:
            doc, metavar = doc + "; here a .npy or text FILE of x, y rows", "FILE"
        # argparse formats help texts with %, which a meaning may hold ("1 % of x's range").
        group.add_argument("--" + name.replace("_", "-"), dest=name, type=parse, metavar=metavar,
                           help=f"{doc} (default {default})".replace("%", "%%"))
