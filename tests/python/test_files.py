import os

import numpy as np
import pytest

from quorvel import files

# Files whose values are already written with repr(), so writing them back unchanged gives the same bytes.
ROUND_TRIPS = [
    ("a.txt", b"1.5\n2.25\n-0.0\n"),
    ("a.csv", b"x,y\n1,0.1\n2.0e0,0.2\n3,1e+300\n"),
    ("a.tsv", b"a\tb\tc\n0.5\t1.0\t2.0\n0.25\t3.0\t4.0\n"),
    ("a.dat", b"\xef\xbb\xbfnm,counts\r\n400,1.0\r\n401,2.0\r\n"),  # comma sniffed; BOM and CRLF kept
    ("a.txt", b"caf\xe9 (latin-1)\n1.0 2.0 3.0\n4.0 5.0 6.0\n"),  # header in another encoding kept
    ("a.txt", b"wavenumber\tintensity\n1\t2.0\n3\t4.0\n"),
]


@pytest.mark.parametrize("name, content", ROUND_TRIPS)
def test_unchanged_values_give_back_the_same_bytes(tmp_path, name, content):
    path = tmp_path / name
    path.write_bytes(content)
    table = files.read_table(path)
    assert table.render(table.spectra) == content


@pytest.mark.parametrize("content, columns, has_x, names", [
    ("1\n2\n3\n", 1, False, ["1"]),
    ("x y\n1 2\n3 4\n", 1, True, ["y"]),
    ("1 2\n3 4\n", 1, True, ["2"]),
    ('"a","b","c"\n1,2,3\n', 3, False, ["a", "b", "c"]),
    ("a,b\n1,2,3\n", 3, False, ["1", "2", "3"]),  # a header that does not fit the columns
])
def test_layout_and_column_names(tmp_path, content, columns, has_x, names):
    path = tmp_path / "f.txt"
    path.write_text(content)
    table = files.read_table(path)
    assert table.spectra.shape[1] == columns and (table.x is not None) == has_x and table.names() == names


@pytest.mark.parametrize("content, message", [
    ("", "the file holds no data"),
    ("\n  \n", "the file holds no data"),
    ("intensity\n", "the file holds a header line but no data"),
    ("1 2\n3 4\n\n5 x\n", "line 4: 'x' is not a number (column 2)"),
    ("h\nname\n1\n", "line 2: 'name' is not a number (column 1)"),
    ("1 2\n3 4 5\n", "line 2: 3 values where line 1 has 2"),
    ("a,b\n\n1,2\n3\n", "line 4: 1 values where line 3 has 2"),
    ("1,2\n3,\n", "line 2: empty value (column 2)"),
    ("1\n1_000\n", "line 2: '1_000' is not a number (column 1)"),
    ("1\n\u0661\n", "line 2: '\u0661' is not a number (column 1)"),
])
def test_bad_text_names_the_line(tmp_path, content, message):
    path = tmp_path / "f.txt"
    path.write_text(content, encoding="utf-8")
    with pytest.raises(files.DataError) as info:
        files.read_table(path)
    assert str(info.value) == message


@pytest.mark.parametrize("data", [np.arange(6).reshape(2, 3), np.array([True, False, True]),
                                  np.ones(4, np.float32), np.ones(4, ">f8")])
def test_npy_data_is_converted_to_float64(tmp_path, data):
    np.save(tmp_path / "a.npy", data)
    loaded = files.read_array(tmp_path / "a.npy")
    assert loaded.dtype == np.float64 and loaded.dtype.isnative and np.array_equal(loaded, data)


@pytest.mark.parametrize("data, message", [
    (np.ones(3, complex), "holds complex128 values"),
    (np.array(["a"]), "holds <U1 values"),
    (np.array([{}], dtype=object), "not a readable .npy file"),
])
def test_npy_data_that_is_not_real_numbers(tmp_path, data, message):
    np.save(tmp_path / "a.npy", data, allow_pickle=True)
    with pytest.raises(files.DataError, match=message):
        files.read_array(tmp_path / "a.npy")


def test_a_failed_write_leaves_nothing_behind(tmp_path):
    target = tmp_path / "out.csv"

    def fail(stream):
        stream.write(b"partial")
        raise OSError("disk full")

    with pytest.raises(OSError, match="disk full"):
        files.write_atomically(target, fail, overwrite=False)
    assert os.listdir(tmp_path) == []


def test_an_existing_file_is_kept_unless_overwriting(tmp_path):
    target = tmp_path / "out.csv"
    target.write_bytes(b"precious")
    with pytest.raises(FileExistsError):
        files.write_atomically(target, lambda stream: stream.write(b"new"), overwrite=False)
    assert target.read_bytes() == b"precious" and os.listdir(tmp_path) == ["out.csv"]
    target.chmod(0o640)
    files.write_atomically(target, lambda stream: stream.write(b"new"), overwrite=True)
    assert target.read_bytes() == b"new" and os.listdir(tmp_path) == ["out.csv"]
    assert target.stat().st_mode & 0o777 == 0o640


def test_a_text_file_named_npy_is_not_unpickled(tmp_path):
    (tmp_path / "a.npy").write_text("1,2,3\n")
    with pytest.raises(files.DataError, match="not a .npy file"):
        files.read_array(tmp_path / "a.npy")
