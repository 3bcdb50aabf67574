"""Maps and cubes in NetCDF, HDF5 and Zarr files, through xarray."""
import importlib.util
import inspect
import sys

import numpy as np
import pytest

import quorvel
from quorvel.cli import main

xr = pytest.importorskip("xarray")


def _needs(*modules):
    missing = [m for m in modules if importlib.util.find_spec(m) is None]
    return pytest.mark.skipif(bool(missing), reason=f"{', '.join(missing)} not installed")


# xarray before 2024.10 writes Zarr in the format of the installed zarr only.
ZARR_FORMATS = pytest.mark.skipif("zarr_format" not in inspect.signature(xr.Dataset.to_zarr).parameters,
                                  reason="this xarray cannot choose the Zarr format")


# suffix, what the output starts with (or the file a Zarr store holds), writer options
STORES = [
    pytest.param("nc", b"CDF\x02", {"format": "NETCDF3_64BIT"}, marks=_needs("scipy")),
    pytest.param("h5", b"\x89HDF", {"engine": "h5netcdf", "encoding": {"counts": {"chunksizes": (10, 3, 7)}}},
                 marks=_needs("h5netcdf")),
    pytest.param("zarr", "zarr.json", {"zarr_format": 3, "consolidated": False,
                                       "encoding": {"counts": {"chunks": (10, 3, 7)}}},
                 marks=[_needs("zarr"), ZARR_FORMATS]),
    pytest.param("zarr", ".zmetadata", {"zarr_format": 2}, marks=[_needs("zarr"), ZARR_FORMATS]),  # consolidated
]


def _save(dataset, path, options):
    (dataset.to_zarr if path.suffix == ".zarr" else dataset.to_netcdf)(path, **options)


@pytest.mark.parametrize("suffix, mark, options", STORES)
@pytest.mark.parametrize("flags, many, axes, method", [
    (["--dim", "band"], quorvel.correct_many, {"axis": 0}, "poly"),
    (["--2d", "--dim", "y", "--dim", "x"], quorvel.correct_2d_many, {"axes": (1, 2)}, "poly"),
    (["--2d", "--dim", "y", "--dim", "x"], quorvel.correct_2d_many, {"axes": (1, 2)}, "arpls"),
])
def test_cube_round_trip(tmp_path, capsys, suffix, mark, options, flags, many, axes, method):
    rng = np.random.default_rng(3)
    counts = np.float32(rng.random((30, 6, 7)) + np.linspace(0, 3, 30)[:, None, None])
    source = xr.Dataset(
        {"counts": (("band", "y", "x"), counts, {"units": "photons"}), "mask": (("y", "x"), np.eye(6, 7))},
        coords={"band": ("band", np.linspace(400.0, 700.0, 30), {"units": "nm"}), "x": ("x", np.geomspace(1, 9, 7))},
        attrs={"instrument": "test"},
    )
    path = tmp_path / f"map.{suffix}"
    _save(source, path, options)
    assert main(["correct", str(path), "--var", "counts", "-m", method, "-q", *flags]) == 0
    target = tmp_path / f"map_corrected.{suffix}"
    if isinstance(mark, bytes):
        assert target.read_bytes().startswith(mark)
    else:
        assert (target / mark).exists()
    zarr = {"engine": "zarr", "consolidated": False} if suffix == "zarr" else {}
    with xr.open_dataset(target, **zarr) as result:
        # poly and the grid Whittaker fits take the file's numeric coordinates: the band, or the image's x (y has
        # none)
        on_band = {"x": source["band"].values} if "axis" in axes else {"z": source["x"].values}
        expected = many(counts.astype(np.float64), method, **axes, **on_band)
        assert result["counts"].dims == ("band", "y", "x") and result["counts"].values.tobytes() == expected.tobytes()
        assert result["mask"].equals(source["mask"]) and result.attrs == source.attrs
        assert result["band"].attrs == {"units": "nm"} and result["counts"].attrs == {"units": "photons"}
        kept = options.get("encoding", {}).get("counts", {})  # the input's chunks
        assert all(tuple(result["counts"].encoding[key]) == value for key, value in kept.items())


@pytest.mark.parametrize("flags, message", [
    ([], "holds 2 numeric variables (counts, mask): name one with --var"),
    (["--var", "counts"], "variable counts has dimensions band, y: give the spectral dimension with --dim"),
    (["--var", "nope"], "has no variable 'nope' (it has counts, mask)"),
    (["--var", "counts", "--dim", "z"], "variable counts has no dimension 'z' (it has band, y)"),
])
@_needs("scipy")
def test_cube_choices_are_named(tmp_path, capsys, flags, message):
    xr.Dataset({"counts": (("band", "y"), np.ones((5, 2))), "mask": ("y", [1, 0])}).to_netcdf(tmp_path / "a.nc")
    assert main(["correct", str(tmp_path / "a.nc"), *flags]) == 1
    assert f"{tmp_path / 'a.nc'}: {message}" in capsys.readouterr().err


def test_cubes_without_xarray_say_what_to_install(tmp_path, capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "xarray", None)
    (tmp_path / "a.nc").write_bytes(b"CDF\x01")
    assert main(["correct", str(tmp_path / "a.nc")]) == 1
    assert "pip install 'quorvel[formats]'" in capsys.readouterr().err


@_needs("h5netcdf", "h5py", "scipy")
def test_hostile_cubes_are_refused(tmp_path, capsys):
    import h5py

    with h5py.File(tmp_path / "huge.h5", "w") as f:  # a few bytes that declare terabytes
        f.create_dataset("v", shape=(10**6, 10**6), dtype="f8", chunks=(10, 10))
    (tmp_path / "cut.nc").write_bytes(b"CDF\x02\x00\x00")
    assert main(["correct", str(tmp_path / "huge.h5"), str(tmp_path / "cut.nc")]) == 1
    err = capsys.readouterr().err
    assert f"{tmp_path / 'huge.h5'}: holds 8000000000000 bytes of data once read, more than this machine's" in err
    assert f"{tmp_path / 'cut.nc'}: not readable as NetCDF-3" in err


@_needs("h5netcdf", "h5py")
def test_hdf5_groups_are_reached_by_path_and_the_rest_of_the_file_kept(tmp_path, capsys):
    import h5py

    path = tmp_path / "scan.h5"
    spectra = np.random.default_rng(1).random((3, 40)) + np.linspace(0.0, 2.0, 40)
    with h5py.File(path, "w") as stored:
        stored.create_dataset("entry/data/counts", data=spectra)
        stored.create_dataset("entry/instrument/energy", data=np.arange(40.0))
        stored.attrs["note"] = "kept"
    assert main(["correct", str(path), "-q"]) == 1
    listed = "holds no numeric variable at its root; name one of its datasets with --var: entry/data/counts (3, 40)"
    assert listed in capsys.readouterr().err
    assert main(["correct", str(path), "-q", "--var", "entry/data/counts", "-m", "arpls"]) == 0
    with h5py.File(tmp_path / "scan_corrected.h5", "r") as written:
        assert np.array_equal(written["entry/data/counts"][...], quorvel.correct_many(spectra, "arpls"))
        assert np.array_equal(written["entry/instrument/energy"][...], np.arange(40.0))
        assert written.attrs["note"] == "kept"
