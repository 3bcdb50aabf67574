"""Data files of spectra and images, each format in its own module; this one picks the reader.

``load`` reads any supported file as a ``Dataset``; ``kind`` says which format a path holds,
from its content where that is telling and otherwise from its suffix; ``output_path`` says
where a result goes. Nothing here prints; the command line composes these pieces.
"""

from __future__ import annotations

from dataclasses import dataclass, field, replace
from pathlib import Path
from typing import BinaryIO, List, Optional, Sequence, Tuple

import numpy as np

from . import binary, cube, emsa, export, jcamp, mat, npy, omnic, opus, orientation, perkinelmer, spc, text, wdf
from .atomic import write_atomically, write_tree_atomically
from .dataset import Array, DataError, Dataset, Spectrum, group_by_axis

__all__ = [
    "DataError", "Dataset", "Options", "holds_arrays", "kind", "load", "output_mismatch", "output_path", "renamed",
    "write_atomically",
]

_JCAMP_SUFFIXES = {".jdx", ".dx", ".jcm", ".jcamp"}
# formats read but not written: results go to comma-separated text
_EXPORTED = ("jcamp", "spc", "mat", "wdf", "opus", "omnic", "perkinelmer")


@dataclass(frozen=True)
class Options:
    """How to read: images (``two_d``); for text, the x column; for array files, variable and dimensions."""

    two_d: bool = False
    x_column: Optional[int] = None
    no_x: bool = False
    along: Optional[str] = None  # text: "rows" or "columns" when the command line says; None: the file shows
    var: Optional[str] = None
    dims: Tuple[str, ...] = field(default_factory=tuple)


def kind(path: Path) -> str:
    """``text``, ``emsa``, ``mat``, ``wdf``, ``opus``, ``omnic``, ``perkinelmer``, ``npy``, ``jcamp``, ``spc``,
    ``cube``, or ``binary`` (not read)."""
    suffix = path.suffix.lower()
    if suffix in cube.SUFFIXES or path.is_dir():
        return "cube"
    try:
        with open(path, "rb") as stream:
            head = stream.read(binary.HEAD)
    except OSError:
        head = b""
    if head.startswith(npy.MAGIC) or suffix == ".npy":
        return "npy"
    if head.startswith((cube.HDF5_MAGIC, *cube.NETCDF3_MAGIC)):
        return "cube"
    if suffix == ".spc":
        return "spc"
    if suffix in _JCAMP_SUFFIXES or jcamp.looks_like(head):
        return "jcamp"
    if suffix in emsa.SUFFIXES or emsa.looks_like(head):
        return "emsa"
    if suffix == ".mat" or head.startswith(mat.MAGIC):
        return "mat"
    if suffix == ".wdf" or head.startswith(wdf.MAGIC):
        return "wdf"
    for name, magic in (("opus", opus.MAGIC), ("omnic", omnic.MAGIC), ("perkinelmer", perkinelmer.MAGIC)):
        if head.startswith(magic):
            return name
    return "binary" if binary.recognise(path, head) is not None else "text"


def output_path(source: Path, label: str) -> Path:
    """Where the result of ``source`` goes by default: beside it, ``label`` added to its name; formats
    that are not written back (JCAMP-DX, SPC) become ``.csv``."""
    if kind(source) in _EXPORTED:
        return source.with_name(f"{_exported_stem(source)}_{label}.csv")
    return source.with_name(f"{source.stem}_{label}{source.suffix}")


def renamed(source: Path, folder: Path) -> Path:
    """The output of ``source`` in ``folder``: its own name, ``.csv`` for formats not written back."""
    return folder / (f"{_exported_stem(source)}.csv" if kind(source) in _EXPORTED else source.name)


def _exported_stem(source: Path) -> str:
    """The name of an exported file's result: OPUS numbers a sample's files (``a.0``, ``a.1``), which keep
    their numbers apart (``a_0``) instead of sharing one output."""
    return f"{source.stem}_{source.suffix[1:]}" if binary.numbered(source) else source.stem


def output_mismatch(source: Path, output: Path) -> Optional[str]:
    """Why ``output`` cannot hold the result of ``source`` (which is written in its own format), or None."""
    found = kind(source)
    suffix = output.suffix.lower()
    if found == "cube":
        zarr = _is_zarr(source)
        if zarr != _is_zarr(output) or suffix not in cube.SUFFIXES:
            return f"the output of {source} must be {'a .zarr store' if zarr else 'a NetCDF or HDF5 file'} too"
    elif found == "npy":
        if suffix != ".npy":
            return f"the output of {source} must be a .npy file too"
    elif suffix in (".npy", ".spc", *_JCAMP_SUFFIXES, *cube.SUFFIXES):
        return f"the output of {source} is text and cannot be written as {output.suffix}"
    return None


def holds_arrays(path: Path) -> bool:
    """Whether ``path`` is a .npy or array (NetCDF, HDF5, Zarr) file, the formats that hold images."""
    return kind(path) in ("npy", "cube")


def _is_zarr(path: Path) -> bool:
    return cube.SUFFIXES.get(path.suffix.lower()) == "zarr" or path.is_dir()


def load(path: Path, options: Options) -> Dataset:
    """Reads ``path`` as spectra (or images with ``options.two_d``)."""
    found = kind(path)
    if options.two_d and found not in ("npy", "cube"):
        raise DataError("images can only be read from .npy and array (NetCDF, HDF5, Zarr) files")
    if found == "npy":
        return _npy(npy.read(path), options.two_d)
    if found == "cube":
        return _cube(cube.read(path, options.var, options.dims, options.two_d), options.two_d)
    if found == "jcamp":
        read = jcamp.read(path)
        return replace(_spectra(read.spectra, read.x_units, read.y_units, "JCAMP-DX"), notes=tuple(read.warnings))
    if found == "spc":
        subfiles = spc.read(path)
        return _spectra(subfiles.spectra, subfiles.x_units, subfiles.y_units, "SPC")
    if found == "emsa":
        return _emsa(emsa.read(path))
    if found == "mat":
        return _mat(mat.read(path, options.var, options.along))
    if found == "wdf":
        return _wire(wdf.read(path))
    if found == "opus":
        read_opus = opus.read(path, options.var)
        spectrum = Spectrum(read_opus.x, read_opus.y, read_opus.label)
        return _spectra([spectrum], read_opus.x_units, read_opus.label, f"OPUS spectrum {read_opus.key!r}")
    if found == "omnic":
        spa = omnic.read(path)
        return _spectra([Spectrum(spa.x, spa.y, spa.title)], spa.x_units, "", "OMNIC")
    if found == "perkinelmer":
        sp = perkinelmer.read(path)
        dataset = _spectra([Spectrum(sp.x, sp.y, "")], sp.x_units, sp.y_units, "PerkinElmer")
        return replace(dataset, notes=sp.warnings)
    if found == "binary":
        with open(path, "rb") as stream:
            what = binary.recognise(path, stream.read(binary.HEAD))
        raise DataError(f"a binary file of a format quorvel does not read ({what}); it reads {binary.READS}")
    return _text(text.read(path), options)


def _text(table: text.Table, options: Options) -> Dataset:
    reading = orientation.orient(table, options.along, options.x_column, options.no_x)
    along_rows = reading.along_rows
    lines = [table.rows[index] for index in reading.spectra] if along_rows else None
    items = table.values[np.ix_(reading.spectra, reading.samples)] if along_rows else \
        table.values[np.ix_(reading.samples, reading.spectra)].T
    lone = len(reading.spectra) == 1 and (along_rows or table.header is None)

    def label(k: int) -> str:
        if lone:
            return ""
        return f"line {lines[k] + 1}" if lines is not None else f"column {table.name(reading.spectra[k])}"

    def write(results: Sequence[Array], target: Path, overwrite: bool) -> None:
        values = table.values.copy()
        changed = np.zeros(values.shape, dtype=bool)
        cells = np.ix_(reading.spectra, reading.samples) if along_rows else np.ix_(reading.samples, reading.spectra)
        values[cells] = results[0] if along_rows else results[0].T
        changed[cells] = True
        changed &= np.isfinite(table.values)  # cells left out of the fit go back as they were written
        content = text.render(table, values, changed)
        write_atomically(target, lambda stream: _put(content, stream), overwrite)

    y_label = table.name(reading.spectra[0]) if not along_rows and len(reading.spectra) == 1 and \
        table.header is not None else ""
    how, kept = orientation.describe(table, reading)
    metadata = table.rows[0] if table.rows else 0
    description = f"{table.layout.describe(table.width)}, {metadata} lines before the data; {how}" + (
        f"; kept as they were: {kept}" if kept else "")
    notes = (_GUESSED,) if reading.guessed else ()
    return Dataset((items.copy(),), label, write, reading.x, reading.x_name, y_label, description, (reading.x,), notes)


_GUESSED = (
    "nothing in the file shows whether its spectra run along rows or columns: read one spectrum per column; "
    "--rows reads one per row, --columns keeps this reading without this warning"
)


def _mat(read: mat.Matrix) -> Dataset:
    x = read.x if read.x is not None else np.arange(read.spectra.shape[1], dtype=np.float64)
    noun = {"rows": "row", "columns": "column"}.get(read.along, "spectrum")
    spectra = [Spectrum(x, y, f"{read.name} {noun} {k + 1}") for k, y in enumerate(read.spectra)]
    dataset = _spectra(spectra, read.x_name, read.name, "MATLAB")
    way = "one vector" if read.along == "one vector" else f"one spectrum per {noun}"
    count, length = read.spectra.shape
    description = (f"MATLAB variable {read.name}, {way}: {_count(count, 'spectrum', 'spectra')} of {length} "
                   f"samples; x axis: {read.x_name}")
    notes = () if read.shown else (
        f"nothing in the file shows whether the spectra of {read.name} run along rows or columns (no vector of "
        "either length is an x axis): read one per row; --columns reads one per column, --rows keeps this reading "
        "without this warning",)
    return replace(dataset, description=description, notes=notes, x=read.x, positions=(read.x,))


def _wire(read: wdf.Wire) -> Dataset:
    count = read.spectra.shape[0]

    def label(k: int) -> str:
        where = ", ".join(f"{name}={value:g}" for name, value in zip(read.coordinate_names, read.coordinates[k]))
        return "" if count == 1 else f"spectrum {k + 1}" + (f" ({where})" if where else "")

    def write(results: Sequence[Array], target: Path, overwrite: bool) -> None:
        def content(stream: BinaryIO) -> None:
            if read.coordinate_names:
                export.write_map(results[0], read.x, read.coordinates, read.coordinate_names, stream)
            else:
                spectra = [Spectrum(read.x, y, f"spectrum {k + 1}") for k, y in enumerate(results[0])]
                export.write(spectra, read.x_units, stream)

        write_atomically(target, content, overwrite)

    shape = "a map" if read.coordinate_names else "spectra"
    description = (f"WiRE {read.title!r}, {shape}: {_count(count, 'spectrum', 'spectra')} of "
                   f"{read.spectra.shape[1]} samples; x axis from the header: {read.x_units}")
    return Dataset((read.spectra,), label, write, read.x, read.x_units, "", description, (read.x,))


def _emsa(read: emsa.Emsa) -> Dataset:
    def write(results: Sequence[Array], target: Path, overwrite: bool) -> None:
        values = read.table.values.copy()
        values[read.cells] = results[0][0]
        changed = np.zeros(values.shape, dtype=bool)
        changed[read.cells] = np.isfinite(read.table.values[read.cells])
        content = text.render(read.table, values, changed)
        write_atomically(target, lambda stream: _put(content, stream), overwrite)

    y = read.table.values[read.cells][None, :]
    description = f"EMSA/MAS, 1 spectrum of {y.shape[1]} samples; x axis from the header: {read.x_units or 'no units'}"
    return Dataset((y,), lambda k: "", write, read.x, read.x_units, read.y_units, description, (read.x,))


def _npy(data: Array, two_d: bool) -> Dataset:
    item_ndim = 2 if two_d else 1
    if data.ndim < item_ndim:
        noun = "an image" if two_d else "a spectrum"
        raise DataError(f"holds an array of shape {data.shape}, which is not {noun}")
    batch_shape = data.shape[: data.ndim - item_ndim]
    items = data.reshape((-1,) + data.shape[data.ndim - item_ndim :])
    noun = "image" if two_d else "spectrum"

    def label(k: int) -> str:
        return f"{noun} {tuple(int(i) for i in np.unravel_index(k, batch_shape))}" if batch_shape else ""

    def write(results: Sequence[Array], target: Path, overwrite: bool) -> None:
        write_atomically(target, lambda stream: npy.write(results[0].reshape(data.shape), stream), overwrite)

    description = f"an array of shape {data.shape}: {_count(items.shape[0], noun, noun + 's')}"
    return Dataset((items,), label, write, None, "sample" if not two_d else "", "", description, (None,))


def _cube(read: cube.Cube, two_d: bool) -> Dataset:
    noun = "image" if two_d else "spectrum"

    def write(results: Sequence[Array], target: Path, overwrite: bool) -> None:
        write_tree_atomically(target, lambda path: cube.write(read, results[0], path), overwrite)

    along = " and ".join(read.item_dims)
    description = (
        f"variable {read.name} along {along}: {_count(read.items.shape[0], noun, noun + 's')}; "
        f"x axis: {read.x_label if read.x is not None else 'none (no numeric coordinate ' + along + ')'}"
    )
    x_label = read.x_label if not two_d else ""
    positions = read.axes if two_d else read.axes[0]
    return Dataset(
        (read.items,), lambda k: cube.label(read, k, noun), write, read.x, x_label, read.y_label, description,
        (positions,),
    )


def _spectra(spectra: List[Spectrum], x_units: str, y_units: str, format_name: str) -> Dataset:
    names = [spectrum.name or f"spectrum {k + 1}" for k, spectrum in enumerate(spectra)]
    lone = len(spectra) == 1

    def label(k: int) -> str:
        return "" if lone else names[k]

    def write(results: Sequence[Array], target: Path, overwrite: bool) -> None:
        flat = [row for group in results for row in group]
        corrected = [Spectrum(s.x, y, name) for s, y, name in zip(spectra, flat, names)]
        write_atomically(target, lambda stream: _export(corrected, x_units, stream), overwrite)

    description = (
        f"{format_name}, {_count(len(spectra), 'spectrum', 'spectra')}; "
        f"x axis from the header: {x_units or 'no units given'}, {spectra[0].x.size} points"
    )
    groups, axes = group_by_axis(spectra)
    return Dataset(groups, label, write, spectra[0].x, x_units, y_units, description, axes)


def _put(content: bytes, stream: BinaryIO) -> None:
    stream.write(content)


def _export(spectra: List[Spectrum], x_units: str, stream: BinaryIO) -> None:
    export.write(spectra, x_units, stream)


def _count(count: int, one: str, many: str) -> str:
    return f"{count} {one if count == 1 else many}"
