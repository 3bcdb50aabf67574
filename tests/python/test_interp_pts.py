"""interp_pts against NumPy and SciPy's interpolants and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import spectrum
from test_snip import close

METHODS = ["linear", "nearest", "previous", "next", "cubic"]


def interp_pts(t, points, interp_method="linear"):
    """The points sorted by x and joined as interp1d joins them; 0 outside their x range."""
    px, py = points[np.argsort(points[:, 0])].T
    if interp_method == "cubic":
        inside = pytest.importorskip("scipy.interpolate").CubicSpline(px, py, bc_type="not-a-knot")(t)
    elif interp_method == "linear":
        inside = np.interp(t, px, py)
    else:
        index = {"nearest": lambda: np.searchsorted((px[1:] + px[:-1]) / 2, t, side="left"),
                 "previous": lambda: np.searchsorted(px, t, side="right") - 1,
                 "next": lambda: np.searchsorted(px, t, side="left")}[interp_method]()
        inside = py[np.clip(index, 0, px.size - 1)]
    return np.where((t >= px[0]) & (t <= px[-1]), inside, 0.0)


def positions(n):
    return np.geomspace(400.0, 4000.0, n)[::-1]  # decreasing wavenumbers, unevenly spaced


def points_on(x, count, seed):
    rng = np.random.default_rng(seed)
    return np.column_stack([rng.uniform(x.min() - 50, x.max(), count), rng.normal(3.0, 0.5, count)])


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("interp_method", METHODS)
def test_interp_pts_joins_the_points_as_interp1d(n, interp_method):
    x, y = positions(n), spectrum(n, 30)
    points = points_on(x, 12, n)
    expected = interp_pts(x, points, interp_method)
    close(quorvel.baseline(y, "interp_pts", x=x, baseline_points=points, interp_method=interp_method), expected,
          expected)


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("interp_method", METHODS)
def test_interp_pts_agrees_with_the_reference_library(n, interp_method):
    pybaselines = pytest.importorskip("pybaselines")
    x, y = positions(n), spectrum(n, 31)
    points = points_on(x, 9, n + 1)
    expected = pybaselines.Baseline(x_data=x).interp_pts(y, baseline_points=points, interp_method=interp_method)[0]
    got = quorvel.baseline(y, "interp_pts", x=x, baseline_points=points, interp_method=interp_method)
    close(got, expected, expected)


def test_without_x_the_points_lie_on_the_indices():
    points = np.array([[10.0, 1.0], [0.0, 3.0], [20.0, 2.0]])
    expected = np.r_[np.linspace(3.0, 1.0, 11), np.linspace(1.0, 2.0, 11)[1:], np.zeros(9)]
    close(quorvel.baseline(np.zeros(30), "interp_pts", baseline_points=points), expected, expected)


@pytest.mark.parametrize("points, interp_method, message", [
    ([[1.0, 2.0], [1.0, 3.0], [4.0, 0.0]], "linear", "distinct"),  # the reference library keeps one silently
    ([[1.0, 2.0], [2.0, 3.0], [4.0, 0.0]], "cubic", "at least 4"),
    ([[1.0, np.nan]], "linear", "finite"), (np.zeros((0, 2)), "linear", "shape"), ([1.0, 2.0], "linear", "shape")])
def test_points_it_cannot_join_are_refused_by_name(points, interp_method, message):
    with pytest.raises(ValueError, match=f"baseline_points.*{message}"):
        quorvel.baseline(np.zeros(10), "interp_pts", baseline_points=points, interp_method=interp_method)


@pytest.mark.parametrize("suffix", [".txt", ".npy"])
def test_the_command_line_reads_the_points_from_a_file(tmp_path, capsys, suffix):
    from test_cli import run
    y, points = spectrum(100, 33), np.array([[0.0, 3.0], [99.0, 4.0]])
    np.savetxt(tmp_path / "y.txt", y)
    path = tmp_path / f"points{suffix}"
    if suffix == ".npy":
        np.save(path, points)
    else:
        np.savetxt(path, points, delimiter=",")
    status, _, err = run(capsys, "correct", "-m", "interp_pts", "--baseline-points", path, tmp_path / "y.txt")
    assert status == 0, err
    np.testing.assert_allclose(np.loadtxt(tmp_path / "y_corrected.txt"), y - np.linspace(3.0, 4.0, 100))
