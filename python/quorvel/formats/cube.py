"""Maps and hyperspectral cubes in NetCDF, HDF5 or Zarr files, read and written through xarray.

One variable of the file is corrected, along one named dimension (spectra) or two (images);
every other variable, coordinate and attribute is written back as it was, in the same format:
NetCDF-3 stays NetCDF-3, HDF5 stays HDF5 (NetCDF-4), a Zarr store keeps its Zarr version.
"""

from __future__ import annotations

import importlib
import importlib.util
import inspect
import os
import shutil
import warnings
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from .dataset import Array, DataError

__all__ = ["Cube", "HINT", "SUFFIXES", "read", "write"]

HINT = "pip install 'quorvel[formats]'"
SUFFIXES = {".nc": "netcdf", ".nc4": "netcdf", ".cdf": "netcdf", ".h5": "netcdf", ".hdf5": "netcdf",
            ".he5": "netcdf", ".zarr": "zarr"}
HDF5_MAGIC = b"\x89HDF\r\n\x1a\n"
NETCDF3_MAGIC = (b"CDF\x01", b"CDF\x02")
_NETCDF3_FORMATS = {1: "NETCDF3_CLASSIC", 2: "NETCDF3_64BIT"}
# Encodings that describe how values were stored (packing, fill values, source dtype) would distort
# corrected values; only the layout of the stored data (chunks, compression) carries over.
_KEPT_ENCODING = {"zlib", "complevel", "shuffle", "fletcher32", "compression", "compression_opts",
                  "chunksizes", "contiguous", "chunks", "compressor", "compressors"}


@dataclass(frozen=True)
class Cube:
    """``items`` stacks the spectra (or images) of variable ``name`` over its other dimensions."""

    dataset: Any  # xarray.Dataset, held in memory
    name: str
    item_dims: Tuple[str, ...]
    batch_dims: Tuple[str, ...]
    items: Array
    x: Optional[Array]
    x_label: str
    y_label: str
    store: Tuple[str, Dict[str, Any]]  # how to write it back: "netcdf" or "zarr", and the options
    axes: Tuple[Optional[Array], ...]  # the numeric coordinate along each item dimension, or None
    source: Optional[Path] = None  # an HDF5 file whose variable sits in a group: written back as a copy


def read(path: Path, var: Optional[str], dims: Sequence[str], two_d: bool) -> Cube:
    """Variable ``var`` of ``path`` with its items along ``dims``; either is guessed only if unambiguous."""
    xr = _xarray()
    kind, open_options, store = _store(path)
    _require(kind, open_options)
    group, var = _group(kind, var)
    if group:
        open_options = {**open_options, "group": group}
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # Zarr's advice on consolidating its metadata
            with xr.open_dataset(path, **open_options) as opened:
                _check_size(int(opened.nbytes))
                dataset = opened.load()
    except (DataError, MemoryError):
        raise
    except Exception as error:  # noqa: BLE001 - whatever the storage library raises, it is this file's problem
        raise DataError(f"not readable as {kind}: {error}") from None
    name = _variable(dataset, var, path if kind == "HDF5" else None)
    array = dataset[name]
    item_dims = _item_dims(array, dims, two_d)
    batch_dims = tuple(dim for dim in array.dims if dim not in item_dims)
    if array.dtype.kind not in "biuf":
        raise DataError(f"variable {name} holds {array.dtype} values, which cannot be read as real numbers")
    ordered = np.asarray(array.transpose(*batch_dims, *item_dims).values, dtype=np.float64)
    item_shape = ordered.shape[len(batch_dims) :]
    items = ordered.reshape((-1,) + item_shape)
    axes = tuple(_axis(dataset, dim)[0] for dim in item_dims)
    x, x_label = (None, "") if two_d else _axis(dataset, item_dims[0])
    source = path if group else None
    return Cube(dataset, f"{group}/{name}" if group else name, item_dims, batch_dims, items, x, x_label,
                _title(array), store, axes, source)


def _group(kind: str, var: Optional[str]) -> Tuple[str, Optional[str]]:
    """The group of an HDF5 path such as ``entry/data/counts``, and the variable's own name."""
    if var is None or "/" not in var.strip("/"):
        return "", None if var is None else var.strip("/")
    if kind != "HDF5":
        raise DataError(f"--var {var}: only HDF5 files have groups")
    group, name = var.strip("/").rsplit("/", 1)
    return group, name


def label(cube: Cube, k: int, noun: str) -> str:
    """Item ``k`` named by its position along the other dimensions, e.g. ``spectrum (y=3, x=7)``."""
    if not cube.batch_dims:
        return ""
    shape = tuple(cube.dataset.sizes[dim] for dim in cube.batch_dims)
    where = ", ".join(f"{dim}={int(i)}" for dim, i in zip(cube.batch_dims, np.unravel_index(k, shape)))
    return f"{noun} ({where})"


def write(cube: Cube, results: Array, target: Path) -> None:
    """The file again, with ``results`` (shaped like ``cube.items``) in place of the variable."""
    if cube.source is not None:
        _write_in_group(cube, results, target)
        return
    xr = _xarray()
    original = cube.dataset[cube.name]
    shape = tuple(cube.dataset.sizes[dim] for dim in cube.batch_dims + cube.item_dims)
    replaced = xr.DataArray(results.reshape(shape), dims=cube.batch_dims + cube.item_dims, attrs=original.attrs)
    replaced = replaced.transpose(*original.dims)
    replaced.encoding = {key: value for key, value in original.encoding.items() if key in _KEPT_ENCODING}
    output = cube.dataset.copy()
    output[cube.name] = replaced
    kind, options = cube.store
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # Zarr's advice on its metadata conventions
        if kind == "zarr":
            if "zarr_format" not in inspect.signature(output.to_zarr).parameters:  # xarray before 2024.10
                options = {key: value for key, value in options.items() if key != "zarr_format"}
            output.to_zarr(target, mode="w-", **options)
        else:
            output.to_netcdf(target, **options)


def _write_in_group(cube: Cube, results: Array, target: Path) -> None:
    """A copy of the whole file, every other group and dataset as it was, the variable's values replaced."""
    h5py = importlib.import_module("h5py")
    assert cube.source is not None
    shutil.copyfile(cube.source, target)
    name = cube.name.rsplit("/", 1)[1]
    original = cube.dataset[name]
    shape = tuple(cube.dataset.sizes[dim] for dim in cube.batch_dims + cube.item_dims)
    order = [(cube.batch_dims + cube.item_dims).index(dim) for dim in original.dims]
    with h5py.File(target, "r+") as stored:
        dataset = stored[cube.name]
        dataset[...] = results.reshape(shape).transpose(order).astype(dataset.dtype, copy=False)


def _store(path: Path) -> Tuple[str, Dict[str, Any], Tuple[str, Dict[str, Any]]]:
    """What the file is, how to open it, and how to write the same format."""
    if path.is_dir():
        version = 3 if (path / "zarr.json").exists() else 2
        consolidated = version == 2 and (path / ".zmetadata").exists()
        return "Zarr", {"engine": "zarr"}, ("zarr", {"zarr_format": version, "consolidated": consolidated})
    with open(path, "rb") as stream:
        head = stream.read(8)
    if head.startswith(HDF5_MAGIC):
        return "HDF5", {"engine": "h5netcdf", "phony_dims": "sort"}, ("netcdf", {"engine": "h5netcdf"})
    if head.startswith(NETCDF3_MAGIC):
        return "NetCDF-3", {}, ("netcdf", {"format": _NETCDF3_FORMATS[head[3]]})
    raise DataError("neither a NetCDF nor an HDF5 file: it does not start like one")


def _check_size(size: int) -> None:
    """Compressed or sparse storage can declare far more than the file holds: refuse, rather than
    load, what cannot fit in memory."""
    try:
        memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (AttributeError, ValueError, OSError):  # no sysconf (Windows)
        return
    if size > memory:
        raise DataError(f"holds {size} bytes of data once read, more than this machine's {memory} bytes of memory")


def _require(kind: str, options: Dict[str, Any]) -> None:
    engine = options.get("engine")
    needed = {"h5netcdf": ["h5netcdf", "h5py"], "zarr": ["zarr"]}.get(str(engine), [])
    if not engine:
        needed = ["scipy" if _installed("scipy") else "netCDF4"]
    for module in needed:
        if not _installed(module):
            raise DataError(f"reading {kind} files needs {module}: {HINT}")


def _variable(dataset: Any, var: Optional[str], hdf5: Optional[Path]) -> str:
    names: List[str] = [str(name) for name, array in dataset.data_vars.items() if array.dtype.kind in "biuf"]
    if var is not None:
        if var not in dataset.data_vars:
            raise DataError(f"has no variable {var!r} (it has {_list(names)})")
        return var
    if not names and hdf5 is not None:
        raise DataError(f"holds no numeric variable at its root; name one of its datasets with --var: "
                        f"{_list(_hdf5_datasets(hdf5))}")
    if len(names) != 1:
        raise DataError(f"holds {len(names)} numeric variables ({_list(names)}): name one with --var")
    return names[0]


def _hdf5_datasets(path: Path, most: int = 12) -> List[str]:
    """The numeric datasets anywhere in an HDF5 file, with their shapes, as --var names them."""
    h5py = importlib.import_module("h5py")
    found: List[str] = []

    def visit(name: str, item: Any) -> None:
        if isinstance(item, h5py.Dataset) and item.dtype.kind in "biuf" and item.ndim:
            found.append(f"{name} {item.shape}")

    with h5py.File(path, "r") as stored:
        stored.visititems(visit)
    return found[:most] + (["…"] if len(found) > most else [])


def _item_dims(array: Any, dims: Sequence[str], two_d: bool) -> Tuple[str, ...]:
    wanted = 2 if two_d else 1
    present = [str(dim) for dim in array.dims]
    if not dims and len(present) >= wanted and all(dim.startswith("phony_dim_") for dim in present):
        return tuple(present[-wanted:])  # a plain HDF5 dataset, no dimension names: along its last axes, as .npy
    if not dims:
        if len(present) != wanted:
            what = "the two image dimensions with --dim A --dim B" if two_d else "the spectral dimension with --dim"
            raise DataError(f"variable {array.name} has dimensions {_list(present)}: give {what}")
        return tuple(present)
    if len(dims) != wanted:
        raise DataError(f"{'--2d needs two' if two_d else 'spectra need one'} --dim, not {len(dims)}")
    for dim in dims:
        if dim not in present:
            raise DataError(f"variable {array.name} has no dimension {dim!r} (it has {_list(present)})")
    if len(set(dims)) != len(dims):
        raise DataError("the two --dim name the same dimension")
    return tuple(dims)


def _axis(dataset: Any, dim: str) -> Tuple[Optional[Array], str]:
    if dim in dataset.coords and dataset[dim].ndim == 1 and dataset[dim].dtype.kind in "iuf":
        coordinate = dataset[dim]
        return np.asarray(coordinate.values, dtype=np.float64), _title(coordinate)
    return None, dim


def _title(array: Any) -> str:
    name = str(array.attrs.get("long_name") or array.name)
    units = array.attrs.get("units")
    return f"{name} ({units})" if units else name


def _list(names: Sequence[str]) -> str:
    return ", ".join(names) if names else "none"


def _installed(module: str) -> bool:
    try:
        return importlib.util.find_spec(module) is not None
    except (ImportError, ValueError):
        return False


def _xarray() -> Any:
    if not _installed("xarray"):
        raise DataError(f"reading array files needs xarray: {HINT}")
    return importlib.import_module("xarray")
