import importlib.util
import os
import subprocess
import sys

import numpy as np
import pytest

import quorvel
from quorvel.cli import main
from support import INVALID_1D, INVALID_2D, METHODS, METHODS_2D, make_spectrum

Y = make_spectrum(60).tolist()  # Python floats, whose repr() is the shortest exact text
X = np.linspace(400.0, 1000.0, 60).tolist()
PNG = b"\x89PNG\r\n\x1a\n"
NON_FINITE = "{} NaN or infinite: left out of the fit and written back as they were"
HAS_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None


def run(capsys, *argv):
    status = main([str(arg) for arg in argv])
    out, err = capsys.readouterr()
    return status, out, err


def columns(path, delimiter, decimal, skip):
    """The fields of each data column, split independently of the reader under test."""
    rows = [line.split(delimiter) for line in path.read_text().splitlines()[skip:] if line.strip()]
    rows = [[field.strip() for field in row if field.strip()] for row in rows]
    return [[field.replace(decimal, ".") for field in column] for column in zip(*rows)]


def _lines(rows, delimiter=" ", decimal=".", end=""):
    return "".join(delimiter.join(repr(v).replace(".", decimal) for v in row) + end + "\n" for row in rows)


FALLING = X[::-1]
UNEVEN = np.cumsum(np.linspace(1.0, 3.0, 60)).tolist()
META = "Title: test\nIntegration time=1 s\n\n"
# name, text, delimiter, decimal mark, lines before the data, index of the x column (or None)
LAYOUTS = [
    ("y.txt", _lines(zip(Y)), None, ".", 0, None),
    ("xy.csv", "x,y\n" + "".join(f"{a:.2f},{b!r}\n" for a, b in zip(X, Y)), ",", ".", 1, 0),
    ("shift.txt", "# a\n# b\nshift s1 s2 s3 s4\n" + _lines(zip(X, Y, Y[::-1], Y, Y)), None, ".", 3, 0),
    ("semi.csv", META + "nm;I\n" + _lines(zip(FALLING, Y), ";", ",", ";"), ";", ",", 4, 0),
    ("pipe.txt", "% pipes\n" + _lines(zip(UNEVEN, Y, Y), "|"), "|", ".", 1, 0),
    ("tab.dat", _lines(zip(Y, UNEVEN), "\t", ","), "\t", ",", 0, None),
    ("three.tsv", "a\tb\tc\n" + _lines(zip(Y, X, FALLING), "\t"), "\t", ".", 1, None),
]


@pytest.mark.parametrize("name, text, delimiter, decimal, skip, x_column", LAYOUTS)
@pytest.mark.parametrize("kind, function", [("corrected", quorvel.correct), ("baseline", quorvel.baseline)])
@pytest.mark.parametrize("method", ["arpls", "polynomial"])  # both fit on the x column
def test_text_layouts_round_trip(tmp_path, capsys, name, text, delimiter, decimal, skip, x_column, kind, function,
                                 method):
    source = tmp_path / name
    source.write_text(text)
    flags = ["--baseline"] if kind == "baseline" else []
    flags += ["--columns"] if x_column is None and delimiter else []  # nothing in the file says which way
    assert run(capsys, "correct", source, "-m", method, "-q", *flags) == (0, "", "")
    target = tmp_path / f"{source.stem}_{kind}{source.suffix}"
    assert target.read_text().splitlines()[:skip] == text.splitlines()[:skip]
    before, after = columns(source, delimiter, decimal, skip), columns(target, delimiter, decimal, skip)
    x = None if x_column is None else np.array([float(v) for v in before[x_column]])
    for index, (old, new) in enumerate(zip(before, after)):
        if index == x_column:
            assert new == old
        else:
            expected = function(np.array([float(v) for v in old]), method, x=x)
            assert np.array([float(v) for v in new]).tobytes() == expected.tobytes()
    assert len(after) == len(before) and source.read_text() == text


@pytest.mark.parametrize("shape, flags, many, axes", [
    ((60,), ["--half-window", "7"], quorvel.correct_many, -1),
    ((2, 3, 60), [], quorvel.correct_many, -1),
    ((2, 3, 60), ["--baseline"], quorvel.baseline_many, -1),
    ((12, 15), ["--2d"], quorvel.correct_2d_many, (-2, -1)),
    ((2, 12, 15), ["--2d", "--baseline", "--half-window", "2,4"], quorvel.baseline_2d_many, (-2, -1)),
])
def test_npy_stacks(tmp_path, capsys, shape, flags, many, axes):
    data = np.random.default_rng(0).integers(0, 100, shape)  # integers are converted
    np.save(tmp_path / "d.npy", data)
    assert run(capsys, "correct", tmp_path / "d.npy", "-o", tmp_path / "out.npy", "-m", "rolling_ball", *flags)[0] == 0
    params = {"half_window": 7} if "7" in flags else {"half_window": (2, 4)} if "2,4" in flags else {}
    where = {"axis": axes} if axes == -1 else {"axes": axes}
    expected = many(data.astype(np.float64), "rolling_ball", **where, **params)
    assert np.load(tmp_path / "out.npy").tobytes() == expected.tobytes()


def test_nothing_is_overwritten_without_force(tmp_path, capsys):
    source, target = tmp_path / "s.txt", tmp_path / "s_corrected.txt"
    source.write_text("1\n2\n3\n4\n")
    target.write_text("keep me\n")
    for argv in [[source], [source, "-o", source], [source, "--out-dir", tmp_path]]:
        status, _, err = run(capsys, "correct", *argv)
        assert status == 1 and "--force" in err and str(source) in err
    assert source.read_text() == "1\n2\n3\n4\n" and target.read_text() == "keep me\n"
    assert run(capsys, "correct", source, "--force")[0] == 0 and target.read_text() != "keep me\n"
    assert run(capsys, "correct", source, "-o", source, "--force", "-m", "poly")[0] == 0
    assert sorted(os.listdir(tmp_path)) == ["s.txt", "s_corrected.txt"]
    assert np.allclose(np.loadtxt(source), 0.0)


def test_an_out_dir_that_cannot_be_made_stops_the_run(tmp_path, capsys):
    for name in ("a.txt", "b.txt"):
        (tmp_path / name).write_text("1\n2\n3\n4\n")
    status, _, err = run(capsys, "correct", tmp_path / "a.txt", tmp_path / "b.txt", "--out-dir", tmp_path / "a.txt/d")
    assert status == 1 and len(err.splitlines()) == 1 and "cannot create" in err


def test_a_bad_file_is_reported_and_the_others_written(tmp_path, capsys):
    good = tmp_path / "good.csv"
    good.write_text("x,y\n1,1\n2,5\n3,2\n4,3\n")
    bad = {"corrupt.csv": "x,y\n1,1\n2,5\n\n3,2O\n", "ragged.csv": "1,2\n3\n", "empty.txt": "",
           "nan.csv": "x,y\n1,1\n2,nan\n3,3\n", "cut.jdx": "##TITLE=t\n##NPOINTS=3\n", "short.spc": "\0K"}
    for name, text in bad.items():
        (tmp_path / name).write_text(text)
    cube = np.random.default_rng(0).random((4, 10, 5))  # flat data would not converge
    cube[3, 7, 2] = np.inf  # beyond the first chunk of spectra
    np.save(tmp_path / "cube.npy", cube)
    np.save(tmp_path / "scalar.npy", np.float64(1.0))
    names = [*bad, "cube.npy", "scalar.npy", "missing.txt"]
    status, _, err = run(capsys, "correct", "--out-dir", tmp_path / "out", *[tmp_path / n for n in names], good)
    assert status == 1 and err.splitlines() == [
        f"quorvel: {tmp_path / 'corrupt.csv'}: line 5: '2O' is not a number (column 2)",
        f"quorvel: {tmp_path / 'ragged.csv'}: line 2: 1 values where line 1 has 2",
        f"quorvel: {tmp_path / 'empty.txt'}: the file holds no data",
        f"quorvel: {tmp_path / 'nan.csv'}: {NON_FINITE.format('1 sample is')}",
        f"quorvel: {tmp_path / 'cut.jdx'}: the file ends inside the block 't' that starts at line 1 (no ##END=)",
        f"quorvel: {tmp_path / 'short.spc'}: not an SPC file: 2 bytes, fewer than its 512-byte header",
        f"quorvel: {tmp_path / 'cube.npy'}: {NON_FINITE.format('1 sample is')}",
        f"quorvel: {tmp_path / 'scalar.npy'}: holds an array of shape (), which is not a spectrum",
        f"quorvel: {tmp_path / 'missing.txt'}: cannot read: No such file or directory",
        "quorvel: 3 files corrected, 42 spectra, 3 outputs written; 7 files failed",
    ]
    assert sorted(os.listdir(tmp_path / "out")) == ["cube.npy", "good.csv", "nan.csv"]
    assert np.load(tmp_path / "out" / "cube.npy")[3, 7, 2] == np.inf
    assert all(not name.endswith(".tmp") for name in os.listdir(tmp_path))


# A parameter that depends on the data's shape fails the file it does not fit, and only that file.
@pytest.mark.parametrize("params, refusal", [
    (["-m", "aspls", "--alpha", "alpha.txt"], "alpha must have the data's shape (4,); got shape (60,)"),
    (["-m", "rolling_ball", "--half-window", "20"],
     "half_window must be an integer from 1 to 15 for data of shape (4,)"),
])
def test_a_parameter_that_does_not_fit_a_file_fails_that_file(tmp_path, capsys, monkeypatch, params, refusal):
    monkeypatch.chdir(tmp_path)
    alpha = np.linspace(0.1, 1.0, 60)
    (tmp_path / "alpha.txt").write_text(_lines(zip(alpha.tolist())))
    (tmp_path / "long.txt").write_text(_lines(zip(Y)))
    (tmp_path / "short.txt").write_text("1\n2\n3\n4\n")
    status, _, err = run(capsys, "correct", *params, tmp_path / "short.txt", tmp_path / "long.txt")
    assert status == 1 and err.splitlines()[0].startswith(f"quorvel: {tmp_path / 'short.txt'}: {refusal}")
    method = params[1]
    keywords = dict(alpha=alpha) if method == "aspls" else dict(half_window=20)
    written = np.loadtxt(tmp_path / "long_corrected.txt")
    np.testing.assert_array_equal(written, quorvel.correct(np.array(Y), method, **keywords))
    assert not (tmp_path / "short_corrected.txt").exists()


@pytest.mark.parametrize("argv, message", [
    (["a.txt", "b.txt", "-o", "c.txt"], "-o/--output takes exactly one input file"),
    (["a.txt", "-m", "bogus"], INVALID_1D),
    (["a.npy", "--2d", "-m", "derpsalsa"], INVALID_2D),
    (["a.npy", "a.txt", "--2d"], "--2d works on .npy and array (.nc, .h5, .zarr) files only"),
    (["a.txt", "-o", "b.nc"], "the output of a.txt is text and cannot be written as .nc"),
    (["a.txt", "--x-column", "0"], "expected a column number from 1"),
    (["a.txt", "--no-x", "--x-column", "2"], "not allowed with argument"),
    (["a.npy", "-o", "b.txt"], "the output of a.npy must be a .npy file too"),
    (["a.txt", "sub/a.txt", "--out-dir", "out"], "would both be written to"),
    (["a.txt", "a_corrected.txt"], "which is an input too"),
    (["a.txt", "b.txt", "--plot", "p.png"], "--plot takes exactly one input file"),
    (["a.txt", "-m", "arpls", "--p", "0.1"], "arpls takes no parameter 'p'; its parameters are lam, max_iter, tol"),
    (["a.txt", "--lam", "-5"], "lam must be finite and greater than 0; got -5.0"),
    (["a.npy", "--2d", "--solver", "fast"], "solver must be 'cg' or 'multigrid'; got 'fast'"),
    (["a.txt", "-m", "aspls", "--alpha", "none.npy"], "argument --alpha: cannot read the values in 'none.npy'"),
])
def test_usage_errors_touch_nothing(tmp_path, capsys, monkeypatch, argv, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "sub").mkdir()
    for name in ["a.txt", "b.txt", "sub/a.txt", "a_corrected.txt"]:
        (tmp_path / name).write_text("1\n2\n3\n4\n")
    np.save(tmp_path / "a.npy", np.ones((4, 4)))
    before = sorted(p.name for p in tmp_path.rglob("*"))
    status, out, err = run(capsys, "correct", *argv)
    assert status == 2 and err.count(message) == 1 and out == ""
    assert sorted(p.name for p in tmp_path.rglob("*")) == before


def test_methods(capsys):
    assert run(capsys, "--version") == (0, f"quorvel {quorvel.__version__}\n", "")
    status, out, _ = run(capsys, "methods")
    lines = out.splitlines()
    assert status == 0 and ", ".join(METHODS) in lines[0] and ", ".join(METHODS_2D) in lines[1]


def test_the_help_of_correct_shows_every_parameter_flag(capsys):
    status, out, _ = run(capsys, "correct", "--help")
    names = {p.name for ndim in (1, 2) for params in quorvel.parameters.methods_taking(ndim).values() for p in params}
    assert status == 0 and all(f"--{name.replace('_', '-')}" in out for name in names)
    assert "1 % of x's range" in out


def test_plot_without_matplotlib_fails_before_any_work(tmp_path, capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    (tmp_path / "a.txt").write_text("1\n2\n3\n")
    status, _, err = run(capsys, "correct", tmp_path / "a.txt", "--plot", tmp_path / "a.png")
    assert status == 1 and "pip install 'quorvel[plot]'" in err
    assert os.listdir(tmp_path) == ["a.txt"]


@pytest.mark.skipif(not HAS_MATPLOTLIB, reason="matplotlib is not installed")
@pytest.mark.parametrize("data, flags", [(np.ones((3, 40)) + np.arange(40), []), (np.ones((20, 30)), ["--2d"])])
def test_plot_of_a_file(tmp_path, capsys, data, flags):
    np.save(tmp_path / "a.npy", data)
    argv = ["correct", tmp_path / "a.npy", "--plot", tmp_path / "a.png", *flags]
    assert run(capsys, *argv)[0] == 0 and (tmp_path / "a.png").read_bytes().startswith(PNG)
    status, _, err = run(capsys, *argv)  # the plot is an output like any other
    assert status == 1 and f"{tmp_path / 'a.png'} exists" in err


def test_demo_scores_every_method(tmp_path):
    # One real process: the module entry point, the whole demo, and its picture when matplotlib is there.
    argv = ["demo", "--plot", str(tmp_path / "demo.png")] if HAS_MATPLOTLIB else ["demo"]
    done = subprocess.run([sys.executable, "-m", "quorvel", *argv], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    rows = {line.split()[0]: line.split()[1:] for line in done.stdout.splitlines()[1:] if line.strip()}
    assert "interp_pts" not in rows  # nothing to score without the caller's points
    for method in (m for m in METHODS if m != "interp_pts"):
        spectrum, image = (cell.rstrip("*") for cell in rows[method])
        assert float(spectrum) >= 0 and (float(image) >= 0 if method in METHODS_2D else image == "-")
    assert float(rows["arpls"][0]) < 0.01 and float(rows["arpls"][1]) < 0.01
    # airpls' default rule does not hold on the demo spectrum: the table marks it, and nothing goes to stderr.
    assert rows["airpls"][0].endswith("*") and "* stopped at max_iter without meeting tol" in done.stdout
    assert done.stderr == ""
    if HAS_MATPLOTLIB:
        assert (tmp_path / "demo.png").read_bytes().startswith(PNG)
    else:
        assert "quorvel[plot]" in done.stdout


def test_a_file_with_fits_that_did_not_converge_is_written_and_counted(tmp_path, capsys):
    pytest.importorskip("matplotlib")  # the plot fits the first spectrum again, which must not warn twice
    stack = np.linspace(0.0, 3.0, 200) + np.random.default_rng(0).standard_normal((4, 200))
    np.save(tmp_path / "stack.npy", stack)
    status, _, err = run(capsys, "correct", tmp_path / "stack.npy", "-m", "asls", "--max-iter", "5", "--plot",
                         tmp_path / "p.png")
    unconverged = int(np.count_nonzero(~quorvel.fit_many(stack, "asls", max_iter=5).converged))
    assert status == 0 and unconverged and err.splitlines() == [
        f"quorvel: {tmp_path / 'stack.npy'}: {unconverged} of 4 spectra did not converge: asls stopped at max_iter=5 "
        "without meeting tol=0.001; raise max_iter or tol",
        "quorvel: 1 file corrected, 4 spectra, 2 outputs written",
    ]
    np.testing.assert_array_equal(np.load(tmp_path / "stack_corrected.npy"),
                                  quorvel.correct_many(stack, "asls", max_iter=5))


def test_a_file_whose_grid_solves_stop_short_says_so(tmp_path, capsys):
    images = np.random.default_rng(1).random((2, 40, 40))
    np.save(tmp_path / "images.npy", images)
    status, _, err = run(capsys, "correct", tmp_path / "images.npy", "--2d", "-m", "asls", "--cg-max-iter", "2",
                         "--cg-tol", "1e-12", "--max-iter", "2")
    with pytest.warns(quorvel.ConvergenceWarning):
        short = quorvel.fit_2d_many(images, "asls", cg_max_iter=2, cg_tol=1e-12, max_iter=2).short_solves
    assert status == 0 and short.all()
    assert f"quorvel: {tmp_path / 'images.npy'}: 2 of 2 images had linear solves stop at cg_max_iter=2 short of " \
           f"cg_tol=1e-12 ({short.sum()} solves): the baseline may be off; raise cg_max_iter or cg_tol" in err.splitlines()
