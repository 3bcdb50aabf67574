"""Real instrument files (tests/data, sources and licences in its README) and damaged copies of them."""
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
READABLE = ["raman.spc", "gxy.spc", "xyxy.spc"] + (["Si-map.wdf"] if HAS_WDF else [])


@pytest.mark.parametrize("name, count, length, unit", [
    ("raman.spc", 1, 1911, "Raman shift"), ("gxy.spc", 1, 151, "Wavenumber"), ("xyxy.spc", 512, 8, "mass"),
])
def test_real_spc_files(tmp_path, name, count, length, unit):
    dataset = formats.load(DATA / name, formats.Options())
    assert (dataset.count, dataset.groups[0].shape[1], np.isfinite(dataset.groups[0]).all()) == (count, length, True)
    assert dataset.x_label.startswith(unit)
    assert main(["correct", str(DATA / name), "--out-dir", str(tmp_path), "-q", "-m", "rolling_ball",
                 "--half-window", "2"]) == 0


def test_a_binary_format_not_read_is_named():
    with pytest.raises(formats.DataError, match=r"a binary file of a format quorvel does not read \(PerkinElmer"):
        formats.load(DATA / "perkinelmer.sp", formats.Options())


@pytest.mark.skipif(not HAS_WDF, reason="renishaw-wdf not installed")
def test_a_wire_map_is_read_with_its_coordinates_and_written_one_spectrum_per_row(tmp_path, capsys):
    dataset = formats.load(DATA / "Si-map.wdf", formats.Options())
    spectra = dataset.groups[0]
    assert spectra.shape == (88, 575) and dataset.x[0] > dataset.x[-1] and "a map: 88 spectra" in dataset.description
    assert dataset.label(1) == "spectrum 2 (x=-5.09, y=-8.93)"
    assert main(["correct", str(DATA / "Si-map.wdf"), "--out-dir", str(tmp_path), "-q", "-m", "arpls"]) == 0
    written = formats.load(tmp_path / "Si-map.csv", formats.Options())  # read back: rows, coordinates kept
    assert "one spectrum per row" in written.description and np.array_equal(written.x, dataset.x)
    assert np.array_equal(written.groups[0], quorvel.correct_many(spectra, "arpls"))


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
