import os
import re

import numpy as np
import pytest

from quorvel import formats
from quorvel.formats import axis, npy, text

SPECTRA = np.random.default_rng(2).random((3, 50))
WN = np.linspace(400.0, 900.0, 50)

# Files whose values are already written with repr(), so writing them back unchanged gives the same bytes.
ROUND_TRIPS = [
    b"1.5\n2.25\n-0.0\n",
    b"x,y\n1,0.1\n2.0e0,0.2\n3,1e+300\n",
    b"\xef\xbb\xbfnm,counts\r\n400,1.0\r\n401,2.0\r\n",  # BOM and CRLF kept
    b"caf\xe9 (latin-1)\n1.0 2.0 3.0\n4.0 5.0 6.0",  # metadata in another encoding; no final newline
    "\ufeff# \u00b5m\n1,0\t2,5\r\n".encode("utf-16-le"),
    b"# a\n% b\n; c\nk: v\nk=v\n\nnm;I;\n 1,5 ; 2,0 ;\n\n3,5;4,0;\n",  # padding, trailing ;, blank lines
    b"1|2.0\r3|4.0\r",
    b"x,y\n1,0.5\n2,0.25\n# written by\n;END\n%%\n",  # comment lines after the data stay as they are
    b"name,4000.0,3000.0,2000.0\nA,0.5,0.25,0.125\nB,1.5,1.25,1.125\n",  # a label column
]


@pytest.mark.parametrize("content", ROUND_TRIPS)
def test_unchanged_values_give_back_the_same_bytes(tmp_path, content):
    path = tmp_path / "f.txt"
    path.write_bytes(content)
    table = text.read(path)
    changed = np.ones(table.values.shape, dtype=bool)
    changed[:, 0] = table.width == 1
    assert text.render(table, table.values, changed) == content


@pytest.mark.parametrize("content, width, names, layout", [
    ("1\n2\n3\n", 1, None, "one column"),
    ("x y\n1 2\n3 4\n", 2, ["x", "y"], "whitespace-separated"),
    ('"a","b","c"\n1,2,3\n', 3, ["a", "b", "c"], "comma-separated"),
    ("a,b\n1,2,3\n", 3, None, "comma-separated"),  # a header that does not fit the columns
    ("# n\tI\n1,5\t2\n", 2, ["n", "I"], "tab-separated, decimal comma"),
    ("1024\nintensity\n1.5\n2.5\n", 1, ["intensity"], "one column"),  # a lone number above a header
    ("1,5\n2,5\n", 2, None, "comma-separated"),  # a lone comma is a delimiter
])
def test_layout_and_column_names(tmp_path, content, width, names, layout):
    path = tmp_path / "f.txt"
    path.write_text(content)
    table = text.read(path)
    assert (table.width, table.header, table.layout.describe(table.width)) == (width, names, layout)


@pytest.mark.parametrize("first, chosen", [
    ([1.0, 2.0, 4.0, 8.0], 0),  # rising, uneven
    ([9.0, 5.0, 2.0, 1.0], 0),  # falling
    ([1.0, 2.0, 2.0, 3.0], None),  # a repeated value
    ([1.0, 3.0, 2.0, 4.0], None),
    ([1.0, np.nan, 3.0, 4.0], None),
])
def test_x_axis_guess(first, chosen):
    values = np.column_stack([first, [5.0, 1.0, 7.0, 2.0]])
    assert axis.choose(values, None, False)[0] == chosen
    assert axis.choose(values, None, True)[0] is None and axis.choose(values, 2, False)[0] == 1


@pytest.mark.parametrize("content, message", [
    ("", "the file holds no data"),
    ("\n  \n", "the file holds no data"),
    ("intensity\n", "the file holds no line of numbers"),
    ("1,2\n3,4x\n5,6\n", "line 2: '4x' is not a number (column 2)"),  # not taken for metadata
    ("1 2\n3 4\n\n5 x\n", "line 4: 'x' is not a number (column 2)"),
    ("1 2\n3 4 5\n", "line 2: 3 values where line 1 has 2"),
    ("a,b\n\n1,2\n3\n", "line 4: 1 values where line 3 has 2"),
    ("1,2\n3,\n", "line 2: empty value (column 2)"),
    ("1\n1_000\n", "line 2: '1_000' is not a number (column 1)"),
    ("1\n\u0661\n", "line 2: '\u0661' is not a number (column 1)"),
])
def test_bad_text_names_the_line(tmp_path, content, message):
    path = tmp_path / "f.txt"
    path.write_text(content, encoding="utf-8")
    with pytest.raises(formats.DataError) as info:
        text.read(path)
    assert str(info.value) == message


@pytest.mark.parametrize("data, refusal", [
    (np.arange(6).reshape(2, 3), None), (np.array([True, False, True]), None), (np.ones(4, np.float32), None),
    (np.ones(4, ">f8"), None), (np.ones(3, complex), "holds complex128 values"), (np.array(["a"]), "holds <U1 values"),
    (np.array([{}], dtype=object), "not a readable .npy file"),
    (np.ones(1000), "its header claims 8000000000 bytes of data, the file holds"),
    (b"1,2,3\n", "not a .npy file"),  # and not unpickled
])
def test_npy_files_give_float64_or_say_why_not(tmp_path, data, refusal):
    path = tmp_path / "a.npy"
    if isinstance(data, bytes):
        path.write_bytes(data)
    else:
        np.save(path, data, allow_pickle=True)
        path.write_bytes(path.read_bytes().replace(b"(1000,)", b"(1000000000,)"))  # a hostile header
    if refusal is None:
        loaded = npy.read(path)
        assert loaded.dtype == np.float64 and loaded.dtype.isnative and np.array_equal(loaded, data)
    else:
        with pytest.raises(formats.DataError, match=refusal):
            npy.read(path)


def test_writes_are_atomic_and_overwrite_only_when_asked(tmp_path):
    target = tmp_path / "out.csv"

    def fail(stream):
        stream.write(b"partial")
        raise OSError("disk full")

    with pytest.raises(OSError, match="disk full"):
        formats.write_atomically(target, fail, overwrite=False)
    assert os.listdir(tmp_path) == []
    target.write_bytes(b"precious")
    with pytest.raises(FileExistsError):
        formats.write_atomically(target, lambda stream: stream.write(b"new"), overwrite=False)
    assert target.read_bytes() == b"precious" and os.listdir(tmp_path) == ["out.csv"]
    target.chmod(0o640)
    formats.write_atomically(target, lambda stream: stream.write(b"new"), overwrite=True)
    assert target.read_bytes() == b"new" and os.listdir(tmp_path) == ["out.csv"]
    assert target.stat().st_mode & 0o777 == 0o640


@pytest.mark.parametrize("name, content, what", [
    ("a.sp", b"PEPF" + bytes(100), "PerkinElmer, .sp without"),
    ("a.csv", b"\x89PNG\r\n\x1a\n" + bytes(100), "a PNG image"),
    ("sample.0", b"\x0a\x0a\xfe\xff" + bytes(100) + b"1,2\n" * 10, "Bruker OPUS by its name"),
    ("a.spa", b"Spectral Data Fil\n" + bytes(100), "Thermo OMNIC, .spa without"),
    ("a.map", b"Spectral Exte File\r\n" + bytes(100), "a Thermo OMNIC map"),
    ("a.txt", b"1,2\n3,4\n\x00", "unknown"),
])
def test_binary_files_are_named_not_parsed(tmp_path, name, content, what):
    path = tmp_path / name
    path.write_bytes(content)
    with pytest.raises(formats.DataError) as info:
        formats.load(path, formats.Options())
    assert str(info.value).startswith(f"a binary file of a format quorvel does not read ({what}")


@pytest.mark.parametrize("variables, options, shape, x, warned", [
    ({"X": SPECTRA, "wn": WN}, {}, (3, 50), WN, False),  # the x vector shows the way
    ({"X": SPECTRA.T, "wn": WN}, {}, (3, 50), WN, False),
    ({"X": SPECTRA}, {}, (3, 50), None, True),  # nothing does: MATLAB's rows, said
    ({"X": SPECTRA}, {"along": "columns"}, (50, 3), None, False),
    ({"X": SPECTRA, "Y": SPECTRA}, {"var": "Y"}, (3, 50), None, True),
    ({"y": WN}, {}, (1, 50), None, False),
])
def test_matlab_files(tmp_path, variables, options, shape, x, warned):
    scipy_io = pytest.importorskip("scipy.io")
    path = tmp_path / "m.mat"
    scipy_io.savemat(path, variables)
    dataset = formats.load(path, formats.Options(**options))
    assert dataset.groups[0].shape == shape and bool(dataset.notes) == warned
    assert (dataset.x is None) if x is None else np.array_equal(dataset.x, x)
    assert formats.output_path(path, "corrected").name == "m_corrected.csv"


@pytest.mark.parametrize("variables, cut, message", [
    ({"X": SPECTRA, "Y": SPECTRA}, None, "holds 2 numeric matrices (X, Y): name one with --var"),
    ({"X": SPECTRA}, 300, "not a readable MATLAB file"),
])
def test_bad_matlab_files(tmp_path, variables, cut, message):
    scipy_io = pytest.importorskip("scipy.io")
    path = tmp_path / "m.mat"
    scipy_io.savemat(path, variables)
    path.write_bytes(path.read_bytes()[:cut])
    with pytest.raises(formats.DataError, match=re.escape(message)):
        formats.load(path, formats.Options())
