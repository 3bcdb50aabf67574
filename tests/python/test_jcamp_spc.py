"""JCAMP-DX and SPC files written here from the formats' published descriptions."""
import csv
import re
import struct

import numpy as np
import pytest

import quorvel
from quorvel import formats
from quorvel.cli import main
from quorvel.formats import jcamp, spc

VALUES = [1, 2, 3, 3, 2, 1, 0, -1, -2, -3]
# The same ten ordinates in each form of the JCAMP-DX paper (x 1000 first on the line).
FORMS = ["1000 1 2 3 3 2 1 0 -1 -2 -3", "1000+1+2+3+3+2+1+0-1-2-3", "1000ABCCBA@abc", "1000AJJ%jjjjjj", "1000AJT%jX"]


def jdx(lines, points=10, title="t", extra=""):
    header = f"##TITLE={title}\n##JCAMP-DX=4.24\n##XUNITS=1/CM\n##YUNITS=ABSORBANCE\n{extra}"
    axis = f"##FIRSTX=1000\n##LASTX={999 + points}\n##YFACTOR=0.5\n##NPOINTS={points}\n"
    return header + axis + "##XYDATA=(X++(Y..Y))\n" + "\n".join(lines) + "\n##END=\n"


def spc_file(ys, flags=0, exponent=-128, xs=None):
    """Header (512 bytes), an x array if flagged, then per subfile a 32-byte header, its x if XYXY, its y."""
    xyxy, points = flags & 0x40, len(ys[0])
    head = bytearray(512)
    struct.pack_into("<BBBbIddIBB", head, 0, flags, 0x4B, 0, exponent, points, 400.0, 490.0, len(ys), 13, 4)
    body = [bytes(head)] + ([np.asarray(xs[0], "<f4").tobytes()] if flags & 0x80 and not xyxy else [])
    for k, y in enumerate(ys):
        body.append(struct.pack("<BbHfffIIf4x", 0, exponent, k, 0, 0, 0, len(y) if xyxy else 0, 0, 0))
        body += [np.asarray(xs[k], "<f4").tobytes()] if xyxy else []
        bits = 16 if flags & 1 else 32
        body.append(np.asarray(y, "<f4" if exponent == -128 else f"<i{bits // 8}").tobytes())
    return b"".join(body)


@pytest.mark.parametrize("text, expected", [(jdx([line]), [v / 2 for v in VALUES]) for line in FORMS] + [
    # each line of DIF data begins by repeating the last value of the line before it
    (jdx(["1000AJT%jX", "1009cj", "1010dJT", "1012bK"], 14), [v / 2 for v in VALUES + [-4, -3, -2, 0]]),
    (jdx(["1,2 3,4 5,6"], 3).replace("XYDATA=(X++(Y..Y))", "XYPOINTS=(XY..XY)"), [1.0, 2.0, 3.0]),
    (jdx(["1000AJT%jX", "1009dj"], 11) + "\x1a", [v / 2 for v in VALUES + [-5]]),  # a wrong check value; DOS EOF
    (jdx(["1000AJT%jX"], 11), "10 values where ##NPOINTS=11"),
    (jdx(["1000ABCCBA@abc", "1010A"], 10), "line 11: more values than ##NPOINTS=10"),
    (jdx(["1000@s99999999"]), "line 10: the repeat count 's99999999' has nothing to repeat or is too large"),
    (jdx(["S3 5"]), "line 10: the repeat count 'S3' has nothing to repeat"),
    (jdx(["1000A?B"]), "line 10: '?' in '1000A?B' is not a JCAMP-DX digit"),
    (jdx(["1000 1 2x"]), "line 10: 'x' is not a number"),
    (jdx(["1000 1"], 10**12), "##NPOINTS=1000000000000 is more than a file of this size can hold"),
    (jdx(["1000 1"]).replace("##END=\n", ""), "the file ends inside the block 't' that starts at line 1"),
    (jdx(["1000 1"]).replace("##FIRSTX=1000\n", ""), "line 1: block 't' has no ##FIRSTX="),
    ("##TITLE=t\n##NTUPLES=NMR\n##END=\n", "line 2: NTUPLES data (pages of NMR or mass spectra) is not read"),
    ("##TITLE=t\n##PEAK TABLE=(XY..XY)\n1,2\n##END=\n", "holds a peak table, not a spectrum"),
    ("##TITLE=t\n##XYPOINTS=(XY..XY)\n1,2 3\n##END=\n", "an x without its y"),
    ("1 2\n", "line 1: '1 2' is outside any ##TITLE= block"),
])
def test_jcamp_forms_decode_alike_and_bad_data_is_named(tmp_path, text, expected):
    (tmp_path / "a.jdx").write_text(text)
    if isinstance(expected, str):
        with pytest.raises(formats.DataError, match=re.escape(expected)):
            jcamp.read(tmp_path / "a.jdx")
    else:
        read = jcamp.read(tmp_path / "a.jdx")
        assert read.spectra[0].y.tolist() == expected and read.x_units == "1/CM"
        checked = "line 11: the check value -4 does not repeat the previous -3; the line's own values are read"
        assert read.warnings == ([checked] if "1009dj" in text else [])
        xs = [1, 3, 5] if "XYPOINTS" in text else list(range(1000, 1000 + len(expected)))
        assert read.spectra[0].x.tolist() == xs


def test_jcamp_blocks_become_csv_columns(tmp_path, capsys):
    ys = [np.round(50 * np.sin(np.arange(40) / 5) + k * np.arange(40)) for k in range(2)]
    blocks = [jdx(["1000 " + " ".join(f"{v:.0f}" for v in y)], 40, f"s{k}") for k, y in enumerate(ys)]
    (tmp_path / "a.dx").write_text("##TITLE=both\n##DATA TYPE=LINK\n##BLOCKS=2\n" + "".join(blocks) + "##END=\n")
    assert main(["correct", str(tmp_path / "a.dx"), "-m", "poly", "-q"]) == 0
    rows = list(csv.reader((tmp_path / "a_corrected.csv").open()))
    assert rows[0] == ["1/CM", "s0", "s1"]
    values = np.array(rows[1:], dtype=float)
    assert values[:, 0].tolist() == list(range(1000, 1040))
    for k, y in enumerate(ys):
        assert values[:, k + 1].tobytes() == quorvel.correct(y / 2, "poly", x=values[:, 0]).tobytes()


Y = (np.arange(10) - 3.0) ** 2 / 4
VARIANTS = [  # flags, exponent, stored y, decoded y, x of each subfile
    (0, -128, [Y], [np.float32(Y)], [np.linspace(400, 490, 10)]),
    (0, 8, [Y * 2**24], [Y], [np.linspace(400, 490, 10)]),  # 32-bit integers times 2**(8 - 32)
    (1, 8, [Y * 2**8], [Y], [np.linspace(400, 490, 10)]),  # 16-bit integers
    (0x84, -128, [Y, -Y], [np.float32(Y), -np.float32(Y)], [np.geomspace(1, 9, 10)] * 2),  # x array, 2 spectra
    (0xC4, -128, [Y, Y[:7]], [np.float32(Y), np.float32(Y[:7])], [np.arange(10), np.arange(7) / 2]),  # XYXY
]


@pytest.mark.parametrize("flags, exponent, stored, decoded, xs", VARIANTS)
def test_spc_variants(tmp_path, capsys, flags, exponent, stored, decoded, xs):
    (tmp_path / "a.spc").write_bytes(spc_file(stored, flags, exponent, xs))
    read = spc.read(tmp_path / "a.spc")
    assert (read.x_units, read.y_units) == ("Raman shift (cm-1)", "counts")
    for spectrum, y, x in zip(read.spectra, decoded, xs):
        assert spectrum.y.tolist() == np.float64(y).tolist() and spectrum.x.tolist() == np.float32(x).tolist()
    assert main(["correct", str(tmp_path / "a.spc"), "-m", "poly", "-q"]) == 0
    rows = list(csv.reader((tmp_path / "a_corrected.csv").open()))
    shared = not flags & 0x40
    for k, spectrum in enumerate(read.spectra):
        column = [row[k + 1 if shared else 2 * k + 1] for row in rows[1:]]
        got = np.array([float(v) for v in column if v])
        assert got.tobytes() == quorvel.correct(spectrum.y, "poly", x=spectrum.x).tobytes()  # on the file's x


@pytest.mark.parametrize("edit, message", [
    (lambda b: b[:300], "not an SPC file: 300 bytes, fewer than its 512-byte header"),
    (lambda b: b[:1] + b"\x4d" + b[2:], "the old format"),
    (lambda b: b[:1] + b"\x4c" + b[2:], "big-endian"),
    (lambda b: b[:1] + b"\x00" + b[2:], "version byte 0x00"),
    (lambda b: b[:-1], "subfile 2 need 40 bytes at byte 656, the file has 39 left"),
    (lambda b: b[:4] + struct.pack("<I", 2**31) + b[8:], "the x values need 8589934592 bytes at byte 512"),
    (lambda b: b"\x04" + b[1:4] + struct.pack("<I", 2**32 - 1) + b[8:], "subfile 1 need 17179869212 bytes"),
    (lambda b: b[:4] + struct.pack("<I", 0) + b[8:], "the header gives 0 points"),
    (lambda b: b[:24] + struct.pack("<I", 2**32 - 1) + b[28:], "the header of subfile 3 need 32 bytes"),
    (lambda b: b[:0] + b"\x00" + b[1:], "the header gives 2 subfiles"),  # several without the multi flag
])
def test_spc_hostile_headers(tmp_path, edit, message):
    (tmp_path / "a.spc").write_bytes(edit(spc_file([Y, Y], 0x84, -128, [np.arange(10)] * 2)))
    with pytest.raises(formats.DataError, match=message):
        spc.read(tmp_path / "a.spc")
