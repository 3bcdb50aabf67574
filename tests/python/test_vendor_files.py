"""Real instrument files (tests/data, sources and licences in its README) and damaged copies of them."""
import importlib.util
import struct
import threading
import tracemalloc
from pathlib import Path

import numpy as np
import pytest

import quorvel
from quorvel import formats
from quorvel.cli import main
from quorvel.formats import wdf

DATA = Path(__file__).parent.parent / "data"


def _loads_wdf():
    try:
        wdf.module()
    except formats.DataError:
        return False
    return True


HAS_WDF = _loads_wdf()
HAS_OPUS = importlib.util.find_spec("brukeropus") is not None
READABLE = ["raman.spc", "gxy.spc", "xyxy.spc", "perkinelmer.sp", "single_PE_spectrum.sp", "sample1.spa",
            "wavenumbers.mat"] + \
    (["Si-map.wdf"] if HAS_WDF else []) + (["peach_juice.0"] if HAS_OPUS else [])


@pytest.mark.parametrize("name, count, length, unit", [
    ("raman.spc", 1, 1911, "Raman shift"), ("gxy.spc", 1, 151, "Wavenumber"), ("xyxy.spc", 512, 8, "mass"),
])
def test_real_spc_files(tmp_path, name, count, length, unit):
    dataset = formats.load(DATA / name, formats.Options())
    assert (dataset.count, dataset.groups[0].shape[1], np.isfinite(dataset.groups[0]).all()) == (count, length, True)
    assert dataset.x_label.startswith(unit)
    assert main(["correct", str(DATA / name), "--out-dir", str(tmp_path), "-q", "-m", "rolling_ball",
                 "--half-window", "2"]) == 0


@pytest.mark.parametrize("name, length, first, last, units, extremes", [
    ("perkinelmer.sp", 3301, 4000.0, 700.0, "cm-1", (-0.04419460626717189, 0.3590741897475417)),
    ("single_PE_spectrum.sp", 1626, 4000.0, 750.0, "cm-1", (81.4703369140625, 101.32456970214844)),
    ("sample1.spa", 1738, 3999.703125, 649.903564453125, "wavenumber (cm-1)", None),
    pytest.param("peach_juice.0", 1816, 4000.1161035156247, 499.5323388671875, "wavenumber (cm-1)", None,
                 marks=pytest.mark.skipif(not HAS_OPUS, reason="brukeropus not installed")),
])
def test_real_vendor_spectra(tmp_path, name, length, first, last, units, extremes):
    dataset = formats.load(DATA / name, formats.Options())
    y = dataset.groups[0]
    read = (y.shape, dataset.x[0], dataset.x[-1], dataset.x_label, dataset.notes)
    assert read == ((1, length), first, last, units, ())
    assert np.isfinite(y).all() and np.allclose(np.diff(dataset.x), (last - first) / (length - 1), rtol=1e-9)
    if extremes:  # PerkinElmer files record the data's extremes, which the values must meet exactly
        assert (y.min(), y.max()) == extremes
    assert main(["correct", str(DATA / name), "--out-dir", str(tmp_path), "-q", "-m", "arpls"]) == 0
    written = formats.load(tmp_path / formats.renamed(DATA / name, tmp_path).name, formats.Options())
    assert np.array_equal(written.x, dataset.x) and np.array_equal(written.first, quorvel.correct(y[0], "arpls"))


@pytest.mark.skipif(not HAS_OPUS, reason="brukeropus not installed")
def test_opus_result_matches_the_instruments_own_export_and_var_picks_another_spectrum():
    # the same measurement as OPUS exports it, with five decimals and two kinds of comment after the data
    exported = np.loadtxt(DATA / "peach_juice.dpt", comments=("#", ";"))
    opus = formats.load(DATA / "peach_juice.0", formats.Options())
    assert "'r'" in opus.description and np.allclose(opus.x, exported[:, 0], atol=5e-6)
    assert np.allclose(opus.first, exported[:, 1], atol=5e-6)
    assert formats.load(DATA / "peach_juice.0", formats.Options(var="igsm")).first.size == 14216
    with pytest.raises(formats.DataError, match=r"holds no spectrum 'a'; it holds r, .*igsm"):
        formats.load(DATA / "peach_juice.0", formats.Options(var="a"))
    assert formats.output_path(DATA / "peach_juice.0", "corrected").name == "peach_juice_0_corrected.csv"


def test_a_matlab_file_with_its_x_vector():
    dataset = formats.load(DATA / "wavenumbers.mat", formats.Options())
    assert dataset.groups[0].tolist() == [[5, 6, 7], [4, 5, 6]] and dataset.x.tolist() == [0, 0.5, 1]
    assert dataset.description.endswith("one spectrum per row: 2 spectra of 3 samples; x axis: W")


def test_every_damaged_byte_of_a_matlab_file_is_our_error_not_a_crash(tmp_path):
    # SciPy crashes the interpreter on an element of type 0, a complex flag without its imaginary part or
    # dimensions of size 0, and allocates what a damaged cell array's dimensions ask for.
    content = (DATA / "wavenumbers.mat").read_bytes()
    path = tmp_path / "a.mat"
    for at in range(len(content) - 3):
        for value in (b"\xff\xff\xff\x7f", b"\x00\x00\x00\x00"):
            path.write_bytes(content[:at] + value + content[at + 4:])
            try:
                formats.load(path, formats.Options())
            except formats.DataError:
                pass


def test_a_damaged_perkinelmer_data_member_is_said(tmp_path):
    content = bytearray((DATA / "single_PE_spectrum.sp").read_bytes())
    values = content.find(struct.pack("<hi", -29828, 8 * 1626 + 6)) + 12
    content[values + 8 * 100 + 7] ^= 0x10  # the exponent of one value
    (tmp_path / "a.sp").write_bytes(bytes(content))
    notes = formats.load(tmp_path / "a.sp", formats.Options()).notes
    assert len(notes) == 1 and "ordinate range says 81.4703 to 101.325" in notes[0]


@pytest.mark.parametrize("name, rows, count, length, x0, kept", [
    ("4-angle-ftir_multifile.tab", True, 16, 129, 1697.131066748047,
     ["map_x", "map_y", "Filename", "1214.0 - 1258.0", "1500.0 - 1580.0"]),  # names, types (value lists), flags
    ("collagen-head.csv", True, 6, 234, 1801.264, ["type"]),  # abbreviated types, a flag row of one field
    ("MieStd1_raw.csv", True, 1, 778, 1000.89, ["column 1"]),  # an x line and a spectrum, labelled
    ("map_test.xyz", True, 16, 9, 1641.69, ["column 1", "column 2"]),  # coordinates under blank names
    ("peach_juice.dpt", False, 1, 1816, 4000.1161, ["column 1"]),
])
def test_real_tables_are_read_the_way_they_run_and_keep_their_other_columns(tmp_path, name, rows, count, length, x0,
                                                                            kept):
    dataset = formats.load(DATA / name, formats.Options())
    assert (dataset.groups[0].shape, dataset.x[0], dataset.notes) == ((count, length), x0, ())
    assert ("one spectrum per row" if rows else "one spectrum per column") in dataset.description
    assert dataset.description.endswith("kept as they were: " + ", ".join(
        repr(column) if not column.startswith("column ") else column for column in kept))
    assert main(["correct", str(DATA / name), "--out-dir", str(tmp_path), "-q", "-m", "poly"]) == 0
    assert np.array_equal(formats.load(tmp_path / name, formats.Options()).groups[0],
                          quorvel.correct_many(dataset.groups[0], "poly", x=dataset.x))
    before, after = (formats.text.read(path) for path in (DATA / name, tmp_path / name))
    others = [index for index in range(len(before.lines)) if index not in before.rows]
    assert [before.lines[index] for index in others] == [after.lines[index] for index in others]
    columns = formats.orientation.orient(before, None, None, False).kept
    assert np.array_equal(before.values[:, columns], after.values[:, columns], equal_nan=True)


@pytest.mark.skipif(not HAS_WDF, reason="renishaw-wdf not installed")
def test_a_wire_map_is_read_with_its_coordinates_and_written_one_spectrum_per_row(tmp_path, capsys):
    dataset = formats.load(DATA / "Si-map.wdf", formats.Options())
    spectra = dataset.groups[0]
    assert spectra.shape == (88, 575) and dataset.x[0] > dataset.x[-1] and "a map: 88 spectra" in dataset.description
    assert dataset.label(1) == "spectrum 2 (x=-5.09, y=-8.93)"
    assert main(["correct", str(DATA / "Si-map.wdf"), "--out-dir", str(tmp_path), "-q", "-m", "arpls"]) == 0
    written = formats.load(tmp_path / "Si-map.csv", formats.Options())  # read back: rows, coordinates kept
    assert "one spectrum per row" in written.description and np.array_equal(written.x, dataset.x)
    assert np.array_equal(written.groups[0], quorvel.correct_many(spectra, "arpls", x=dataset.x))


def _damaged():
    for name in READABLE:
        content = (DATA / name).read_bytes()
        size = len(content)
        for cut in (0, 4, 100, 511, 512, 600, size // 2, size - 1):
            yield name, f"cut at {cut}", content[:cut]
        for at in (2, 4, 8, 40, 60, 64, 76, 520, 600):  # header fields, then the first block
            for value in (b"\xff\xff\xff\x7f", b"\x00\x00\x00\x00"):
                yield name, f"{value.hex()} at {at}", content[:at] + value + content[at + 4:]


DAMAGED = list(_damaged())


@pytest.mark.parametrize("name, what, content", DAMAGED, ids=[f"{name}: {what}" for name, what, _ in DAMAGED])
def test_damaged_files_fail_fast_with_our_error(tmp_path, name, what, content):
    path = tmp_path / name
    path.write_bytes(content)
    outcome = []

    def load():
        try:
            outcome.append(formats.load(path, formats.Options()).groups[0].shape)
        except formats.DataError as error:
            outcome.append(str(error))

    tracemalloc.start()
    try:
        worker = threading.Thread(target=load, daemon=True)  # a reader that loops forever must not hang the suite
        worker.start()
        worker.join(1.0)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert outcome, f"{what}: no answer within a second, or an error that is not ours"
    assert peak < 64 * 2**20 + 40 * len(content), f"{what}: {peak} bytes at the peak"
