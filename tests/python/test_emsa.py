import re

import numpy as np
import pytest

import quorvel
from quorvel import formats
from quorvel.cli import main
from support import make_spectrum

Y = make_spectrum(23)
HEAD = "#FORMAT      : EMSA/MAS Spectral Data File\n#VERSION     : 1.0\n#NPOINTS     : 23.\n" \
       "#XUNITS      : eV\n#YUNITS      : counts\n#XPERCHAN    : 10.0\n#OFFSET      : -200.0\n"
END = "#ENDOFDATA   : End Of Data and File\n"


def y_lines(columns):
    rows = [Y.tolist()[k:k + columns] for k in range(0, Y.size, columns)]
    return "".join(", ".join(repr(v) for v in row) + ",\n" for row in rows)


FILES = {
    "y5.msa": HEAD + "#DATATYPE    : Y\n#NCOLUMNS    : 5.\n#SPECTRUM    : Spectral Data Starts Here\n" + y_lines(5)
    + END,
    "xy.msa": HEAD + "#DATATYPE    : XY\n#NCOLUMNS    : 1.\n#SPECTRUM    : Spectral Data Starts Here\n" +
    "".join(f"{-200.0 + 10.0 * k!r}, {v!r}\n" for k, v in enumerate(Y.tolist())) + END,
}


@pytest.mark.parametrize("name", FILES)
def test_emsa_spectra_are_read_on_their_energy_axis_and_written_back(tmp_path, capsys, name):
    path = tmp_path / name
    path.write_text(FILES[name])
    dataset = formats.load(path, formats.Options())
    assert np.array_equal(dataset.groups[0], Y[None, :]) and dataset.x_label == "eV"
    assert np.array_equal(dataset.x, -200.0 + 10.0 * np.arange(23))
    assert main(["correct", str(path), "-q", "-m", "arpls", "--lam", "100"]) == 0
    written = (tmp_path / name.replace(".msa", "_corrected.msa")).read_text().splitlines()
    source = FILES[name].splitlines()
    assert [line for line in written if line.startswith("#")] == [line for line in source if line.startswith("#")]
    again = formats.load(tmp_path / name.replace(".msa", "_corrected.msa"), formats.Options())
    assert np.array_equal(again.groups[0][0], quorvel.correct(Y, "arpls", lam=100))


@pytest.mark.parametrize("content, message", [
    (HEAD + "#SPECTRUM : x\n" + END, "no data between #SPECTRUM and #ENDOFDATA"),
    (HEAD + "#SPECTRUM : x\n1, 2,\n" + END, "2 values where #NPOINTS is 23."),
    (HEAD + "#SPECTRUM : x\n1, b,\n" + END, "line 9: a field that is not a number (field 2)"),
    (HEAD.replace("10.0", "ten") + "#SPECTRUM : x\n" + y_lines(1) + END, "#XPERCHAN : ten is not a number"),
    (HEAD + "#DATATYPE : XY\n#SPECTRUM : x\n" + y_lines(1) + END, "do not hold one x and one y each"),
])
def test_bad_emsa_files_say_why(tmp_path, content, message):
    path = tmp_path / "bad.msa"
    path.write_text(content)
    with pytest.raises(formats.DataError, match=re.escape(message)):
        formats.load(path, formats.Options())
