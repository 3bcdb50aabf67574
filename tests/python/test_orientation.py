import numpy as np
import pytest

import quorvel
from quorvel import formats
from quorvel.cli import main
from support import make_spectrum

X4 = "4000.5,3500.5,3000.5,2500.5,2000.5,1500.5,1000.5,500.5"
ROWS = "0.5,0.25,0.125,0.75,1,2,3,1\n0.75,1.5,0.5,0.125,2,1,3,2\n"
X8 = [4000.5, 3500.5, 3000.5, 2500.5, 2000.5, 1500.5, 1000.5, 500.5]

# content, along rows, spectra, samples, x, kept columns (0-based), guessed
LAYOUTS = [
    (f"{X4}\n{ROWS}", True, 2, 8, X8, [], False),  # a first line of x
    (f"name,{X4}\nA,{ROWS.splitlines()[0]}\nB,{ROWS.splitlines()[1]}\n", True, 2, 8, X8, [0], False),
    (f",,{X4}\n0,0,{ROWS.splitlines()[0]}\n0,1,{ROWS.splitlines()[1]}\n", True, 2, 8, X8, [0, 1], False),
    (f"Row,Column,Run,{X4}\n1,1,1,{ROWS.splitlines()[0]}\n1,2,1,{ROWS.splitlines()[1]}\n", True, 2, 8, X8,
     [0, 1, 2], False),
    # names, types and flags
    ("map_x\tmap_y\tlabel\t4000.5\t3000.5\t2000.5\t1000.5\ncontinuous\tcontinuous\tstring\tcontinuous\tcontinuous"
     "\tcontinuous\tcontinuous\nmeta\tmeta\tclass\t\t\t\t\n0\t0\tgood\t0.5\t0.25\t0.125\t0.75\n"
     "0\t1\tbad\t0.75\t1.5\t0.5\t0.125\n", True, 2, 4, [4000.5, 3000.5, 2000.5, 1000.5], [0, 1, 2], False),
    ("nm,a,b\n400,0.5,0.25\n410,0.25,1.5\n420,0.125,0.5\n", False, 2, 3, [400, 410, 420], [0], False),
    ("nm\tclass\ta\n400\tp\t0.5\n410\tq\t0.25\n420\tp\t0.75\n", False, 1, 3, [400, 410, 420], [0, 1], False),
    ("1.5 0.5 2.5 0.25\n", True, 1, 4, None, [], False),  # one line: one spectrum
    ("a,b,c\n5,1,2\n3,4,1\n4,2,3\n", False, 3, 3, None, [], True),  # nothing shows the way
    ("x,1,2,3\n400,5,1,2\n410,3,4,1\n", False, 3, 2, [400, 410], [0], True),  # both ways
]


@pytest.mark.parametrize("content, rows, count, samples, x, kept, guessed", LAYOUTS)
def test_orientation_from_the_file(tmp_path, content, rows, count, samples, x, kept, guessed):
    path = tmp_path / "t.csv"
    path.write_text(content)
    dataset = formats.load(path, formats.Options())
    assert dataset.groups[0].shape == (count, samples)
    assert (dataset.x is None) == (x is None) and bool(dataset.notes) == guessed
    if x is not None:
        assert dataset.x.tolist() == x
    way = "one spectrum per row" if rows else "one spectrum per column"
    assert way in dataset.description and ("kept as they were" in dataset.description) == bool(kept)
    # Everything but the spectra's samples goes back byte for byte.
    target = tmp_path / "out.csv"
    dataset.write((dataset.groups[0] + 1.0,), target, False)
    written = formats.load(target, formats.Options(along="rows" if rows else "columns"))
    assert np.array_equal(written.groups[0], dataset.groups[0] + 1.0)
    source, result = content.splitlines(), target.read_text().splitlines()
    delimiter = "\t" if "\t" in content else ("," if "," in content else " ")
    for line, out in zip(source, result):
        cells, out_cells = line.split(delimiter), out.split(delimiter)
        assert [cells[k] for k in kept if k < len(cells)] == [out_cells[k] for k in kept if k < len(cells)]


@pytest.mark.parametrize("along, shape", [("rows", (3, 3)), ("columns", (3, 3))])
def test_the_command_line_decides_what_the_file_does_not(tmp_path, capsys, along, shape):
    path = tmp_path / "t.csv"
    path.write_text("a,b,c\n5,1,2\n3,4,1\n4,2,3\n")
    assert formats.load(path, formats.Options(along=along)).groups[0].shape == shape
    assert main(["correct", str(path), "-q", "-m", "rolling_ball", "--half-window", "1"]) == 0
    assert "--rows reads one per row" in capsys.readouterr().err  # said even with -q
    assert main(["correct", str(path), "-q", "--force", f"--{along}", "-m", "rolling_ball", "--half-window", "1"]) == 0
    assert capsys.readouterr().err == ""
    with pytest.raises(formats.DataError, match="--x-column names an x column"):
        formats.load(path, formats.Options(along="rows", x_column=1))


def test_rows_are_corrected_as_the_library_does(tmp_path):
    y = np.stack([make_spectrum(80), make_spectrum(80)[::-1]])
    x = np.linspace(900.0, 1800.0, 80)
    path = tmp_path / "rows.csv"
    path.write_text("id," + ",".join(map(repr, x.tolist())) + "\n" +
                    "".join(f"s{k}," + ",".join(map(repr, row.tolist())) + "\n" for k, row in enumerate(y)))
    assert main(["correct", str(path), "-q", "-m", "arpls"]) == 0
    written = np.loadtxt(tmp_path / "rows_corrected.csv", delimiter=",", skiprows=1, usecols=range(1, 81))
    assert np.array_equal(written, quorvel.correct_many(y, "arpls"))


NAN_FILE = "x,y\n1,0.5\n2,NaN\n3,0.25\n4,inf\n5,0.75\n6,0.5\n"


def test_non_finite_samples_leave_the_fit_and_go_back_as_written(tmp_path, capsys):
    path = tmp_path / "n.csv"
    path.write_text(NAN_FILE)
    assert main(["correct", str(path), "-q", "-m", "asls"]) == 0
    assert "2 samples are NaN or infinite: left out of the fit" in capsys.readouterr().err
    lines = (tmp_path / "n_corrected.csv").read_text().splitlines()
    assert lines[2] == "2,NaN" and lines[4] == "4,inf"
    mask = np.array([True, False, True, False, True, True])
    expected = quorvel.correct(np.array([0.5, 0.0, 0.25, 0.0, 0.75, 0.5]), "asls", mask=mask)
    assert np.array_equal(np.array([float(line.split(",")[1]) for line in lines[1:]])[mask], expected[mask])
    assert main(["correct", str(path), "-q", "--force", "--strict"]) == 1
    assert "2 samples are NaN or infinite (--strict)" in capsys.readouterr().err
