"""Real instrument files (tests/data, sources and licences in its README) and damaged copies of them."""
import threading
from pathlib import Path

import numpy as np
import pytest

import quorvel
from quorvel import formats
from quorvel.cli import main

DATA = Path(__file__).parent.parent / "data"
pytest.importorskip("wdf")


def test_a_wire_map_is_read_with_its_coordinates_and_written_one_spectrum_per_row(tmp_path, capsys):
    dataset = formats.load(DATA / "Si-map.wdf", formats.Options())
    spectra = dataset.groups[0]
    assert spectra.shape == (88, 575) and dataset.x[0] > dataset.x[-1] and "a map: 88 spectra" in dataset.description
    assert dataset.label(1) == "spectrum 2 (x=-5.09, y=-8.93)"
    assert main(["correct", str(DATA / "Si-map.wdf"), "--out-dir", str(tmp_path), "-q", "-m", "arpls"]) == 0
    written = formats.load(tmp_path / "Si-map.csv", formats.Options())  # read back: rows, coordinates kept
    assert "one spectrum per row" in written.description and np.array_equal(written.x, dataset.x)
    assert np.array_equal(written.groups[0], quorvel.correct_many(spectra, "arpls"))


def _damaged(content):
    size = len(content)
    for cut in (0, 4, 100, 511, 512, 600, size // 2, size - 1):
        yield f"cut at {cut}", content[:cut]
    for at in (8, 40, 60, 64, 76, 520, 600):  # header fields, then the first block
        for value in (b"\xff\xff\xff\x7f", b"\x00\x00\x00\x00"):
            yield f"{value.hex()} at {at}", content[:at] + value + content[at + 4:]


@pytest.mark.parametrize("what, content", list(_damaged((DATA / "Si-map.wdf").read_bytes())))
def test_damaged_wire_files_fail_fast_with_our_error(tmp_path, what, content):
    path = tmp_path / "d.wdf"
    path.write_bytes(content)
    outcome = []

    def load():
        try:
            outcome.append(formats.load(path, formats.Options()).groups[0].shape)
        except formats.DataError as error:
            outcome.append(str(error))

    worker = threading.Thread(target=load, daemon=True)  # a reader that loops forever must not hang the suite
    worker.start()
    worker.join(1.0)
    assert outcome, f"{what}: no answer within a second"
    assert outcome[0] == (88, 575) or isinstance(outcome[0], str)
