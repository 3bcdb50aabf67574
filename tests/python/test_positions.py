"""x=, the sample positions: the polynomial fits on them, every other method checks and ignores them."""
import numpy as np
import pytest

import quorvel
from quorvel import batch, parameters
from support import METHODS, bits, check_raises, make_spectrum

Y = make_spectrum(120)
UNEVEN = np.cumsum(np.random.default_rng(5).uniform(0.5, 2.0, Y.size)) + 400.0
X_CASES = {"uneven": UNEVEN, "decreasing": UNEVEN[::-1].copy(), "even": np.linspace(-3.0, 9.0, Y.size)}
FRONTS = {
    "correct": lambda y, **kw: quorvel.correct(y, **kw),
    "correct_many": lambda y, **kw: batch.correct_many(y[None, :], **kw)[0],
    "dask": lambda y, **kw: pytest.importorskip("quorvel.dask").correct(y[None, :], **kw).compute()[0],
}


def poly_on(x, y, order, used):
    """Least squares on x mapped linearly onto [-1, 1], evaluated at every sample."""
    t = np.polynomial.polyutils.mapdomain(x, [x.min(), x.max()], [-1.0, 1.0])
    return np.polynomial.polynomial.polyval(t, np.polynomial.polynomial.polyfit(t[used], y[used], order))


@pytest.mark.parametrize("order", [0, 1, 2, 5])
@pytest.mark.parametrize("case", X_CASES)
@pytest.mark.parametrize("masked", [False, True])
def test_the_polynomial_fits_on_x(case, order, masked):
    x = X_CASES[case]
    used = np.ones(Y.size, bool)
    if masked:
        used[30:70] = False
    fitted = quorvel.baseline(Y, "polynomial", x=x, poly_order=order, mask=used if masked else None)
    np.testing.assert_allclose(fitted, poly_on(x, Y, order, used), rtol=1e-10, atol=1e-10)
    pybaselines = pytest.importorskip("pybaselines")
    expected = pybaselines.Baseline(x).poly(Y, poly_order=order, weights=used.astype(float))[0]
    np.testing.assert_allclose(fitted, expected, rtol=1e-9, atol=1e-9)


def test_uneven_positions_change_the_polynomial():
    assert not np.allclose(quorvel.baseline(Y, "polynomial", x=UNEVEN), quorvel.baseline(Y, "polynomial"))


@pytest.mark.parametrize("front", FRONTS)
@pytest.mark.parametrize("method", METHODS)
def test_every_front_carries_x_to_the_methods_that_use_it(front, method):
    with_x = FRONTS[front](Y, method=method, x=UNEVEN)
    if method in parameters.USES_X[1]:
        assert bits(with_x) == bits(quorvel.correct(Y, method, x=UNEVEN))
    else:
        assert bits(with_x) == bits(quorvel.correct(Y, method))


@pytest.mark.parametrize("front", FRONTS)
@pytest.mark.parametrize("x, error, message", [
    (UNEVEN[:-1], ValueError,
     "x must hold one position per sample, 120 values; got ndarray of dtype float64 and shape (119,)"),
    (np.where(np.arange(Y.size) == 7, np.nan, UNEVEN), ValueError, "x must be finite; its value 7 is not"),
    (np.r_[UNEVEN[:60], UNEVEN[59:119]], ValueError, "x must be strictly increasing or strictly decreasing"),
    (UNEVEN + 0j, TypeError, None),
])
@pytest.mark.parametrize("method", ["asls", "polynomial"])
def test_x_is_checked_even_where_it_is_ignored(front, method, x, error, message):
    check_raises(error, message, FRONTS[front], Y, method=method, x=x)


GRID = np.add.outer(np.linspace(0.0, 2.0, 14) ** 2, np.sin(np.linspace(0.0, 3.0, 11))) + np.eye(14, 11)
ROWS, COLS = np.geomspace(1.0, 50.0, 14), -np.cumsum(np.linspace(1.0, 2.0, 11))
GRID_FRONTS = {
    "baseline_2d": lambda data, **kw: quorvel.baseline_2d(data, **kw),
    "baseline_2d_many": lambda data, **kw: batch.baseline_2d_many(data.T[None], axes=(2, 1), **kw)[0].T,
    "dask": lambda data, **kw: pytest.importorskip("quorvel.dask").baseline_2d(data[None], **kw).compute()[0],
}


def surface_on(x, z, data, order):
    """Least squares over every term x^a z^b (a, b <= order), both mapped linearly onto [-1, 1]."""
    t, u = (np.polynomial.polyutils.mapdomain(v, [v.min(), v.max()], [-1.0, 1.0]) for v in (x, z))
    design = np.polynomial.polynomial.polyvander2d(*np.meshgrid(t, u, indexing="ij"), [order, order])
    coefficients = np.linalg.lstsq(design.reshape(data.size, -1), data.ravel(), rcond=None)[0]
    return (design @ coefficients).reshape(data.shape)


@pytest.mark.parametrize("front", GRID_FRONTS)
@pytest.mark.parametrize("order", [1, 2, 3])
@pytest.mark.parametrize("given", ["x", "z", "both"])
def test_the_surface_polynomial_fits_on_x_and_z(front, order, given):
    x = ROWS if given != "z" else np.arange(14.0)
    z = COLS if given != "x" else np.arange(11.0)
    keywords = {"x": x, "z": z} if given == "both" else {given: x if given == "x" else z}
    fitted = GRID_FRONTS[front](GRID, method="polynomial", poly_order=order, **keywords)
    np.testing.assert_allclose(fitted, surface_on(x, z, GRID, order), rtol=1e-9, atol=1e-9)
    pybaselines = pytest.importorskip("pybaselines")
    expected = pybaselines.Baseline2D(x, z).poly(GRID, poly_order=order)[0]
    np.testing.assert_allclose(fitted, expected, rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize("method", ["tophat", "rolling_ball"])
def test_grid_methods_that_do_not_fit_on_positions_check_and_ignore_them(method):
    plain = quorvel.baseline_2d(GRID, method)
    assert bits(quorvel.baseline_2d(GRID, method, x=ROWS, z=COLS)) == bits(plain)
    check_raises(ValueError, "z must hold one position per column (axis 1), 11 values; got ndarray of dtype "
                 "float64 and shape (14,)", quorvel.baseline_2d, GRID, method, z=ROWS)
    check_raises(ValueError, "x must be strictly increasing or strictly decreasing", quorvel.baseline_2d, GRID, method,
                 x=np.r_[ROWS[:7], ROWS[:7]])
