"""The P-splines on grids against a dense NumPy transcription (the tensor-product basis formed by np.kron, Eilers &
Marx, Statist. Sci. 11 (1996) 89) on small grids, and against the reference library's Baseline2D."""
import warnings

import numpy as np
import pytest

import quorvel
from test_pspline import agrees_with_reference, arpls, asls, design


def surface(rows, cols, seed=0):
    rng = np.random.default_rng(seed)
    x, z = np.linspace(-1, 1, rows)[:, None], np.linspace(-1, 1, cols)[None, :]
    peaks = sum(rng.uniform(2, 6) * np.exp(-((x - rng.uniform(-1, 1)) ** 2 + (z - rng.uniform(-1, 1)) ** 2) / 0.01)
                for _ in range(8))
    return 3 + x + 0.5 * z ** 2 + 0.3 * x * z + peaks + rng.normal(0, 0.05, (rows, cols))


def pair(value):
    return value if isinstance(value, tuple) else (value, value)


def quadratic_surface(y, x, z, used):
    """The least-squares surface with every term x^a z^b, a, b <= 2, that gives IAsLS its first weights."""
    X, Z = np.meshgrid(x, z, indexing="ij")
    terms = np.stack([X.ravel() ** a * Z.ravel() ** b for a in range(3) for b in range(3)], axis=1)
    return terms @ np.linalg.lstsq(terms[used], y[used], rcond=None)[0]


def pspline_2d(data, method, lam=1e3, num_knots=25, spline_degree=3, diff_order=2, max_iter=50, tol=1e-3, x=None,
               z=None, mask=None, p=0.01, lam_1=1e-4):
    """(B'WB + lam_0 D0'D0 (x) I + lam_1 I (x) D1'D1) c = B'Wy with B = B0 (x) B1, IAsLS adding its squared weights
    and the first differences of the residual along either axis between used neighbours."""
    rows, cols = data.shape
    x = np.linspace(-1, 1, rows) if x is None else np.asarray(x, float)
    z = np.linspace(-1, 1, cols) if z is None else np.asarray(z, float)
    (k0, k1), (g0, g1), (d0, d1), (l0, l1) = map(pair, (num_knots, spline_degree, diff_order, lam))
    B = np.kron(design(x, k0, g0)[0], design(z, k1, g1)[0])
    m0, m1 = k0 + g0 - 1, k1 + g1 - 1
    P = l0 * np.kron(np.diff(np.eye(m0), d0, axis=0).T @ np.diff(np.eye(m0), d0, axis=0), np.eye(m1)) + \
        l1 * np.kron(np.eye(m0), np.diff(np.eye(m1), d1, axis=0).T @ np.diff(np.eye(m1), d1, axis=0))
    used = np.ones(data.size, bool) if mask is None else mask.ravel()
    y, w, changes = np.where(used, data.ravel(), 0.0), used.astype(float), []
    slope, slope_rhs = np.zeros_like(P), np.zeros(P.shape[0])
    if method == "pspline_iasls":
        w = asls(y, quadratic_surface(y, x, z, used), w, 0, used, p)[0]
        for strength, step in zip(pair(lam_1), (np.kron(np.diff(np.eye(rows), axis=0), np.eye(cols)),
                                                np.kron(np.eye(rows), np.diff(np.eye(cols), axis=0)))):
            step = step[(np.abs(step) @ ~used) == 0]
            slope += strength * (step @ B).T @ (step @ B)
            slope_rhs += strength * (step @ B).T @ (step @ y)
    rule = arpls if method == "pspline_arpls" else lambda *a: asls(*a, p=p)
    for i in range(max_iter + 1):
        v = w ** 2 if method == "pspline_iasls" else w
        fit = B @ np.linalg.solve(B.T @ (v[:, None] * B) + slope + P, B.T @ (v * y) + slope_rhs)
        w_new, measure = rule(y, fit, w, i, used)
        changes.append(measure)
        if measure < tol:
            break
        w = w_new
    return fit.reshape(rows, cols), changes


UNEVEN_X, UNEVEN_Z = np.cumsum(np.random.default_rng(1).uniform(0.3, 1.7, 14)), np.linspace(5, 2, 17)
MASK = np.random.default_rng(2).random((14, 17)) > 0.2
CASES = [("pspline_asls", dict(num_knots=(6, 8), spline_degree=(3, 2), diff_order=(2, 1), lam=(10.0, 0.5))),
         ("pspline_asls", dict(num_knots=(5, 7), spline_degree=(0, 5), diff_order=(1, 3), mask=MASK, p=0.05)),
         ("pspline_arpls", dict(num_knots=(14, 4), spline_degree=1, x=UNEVEN_X, z=UNEVEN_Z, lam=(1.0, 100.0))),
         ("pspline_iasls", dict(num_knots=(7, 9), lam=(1.0, 30.0), lam_1=(0.3, 0.01), mask=MASK, x=UNEVEN_X[::-1])),
         ("pspline_iasls", dict(num_knots=(14, 17), spline_degree=(1, 2), diff_order=(3, 2), lam_1=(0.02, 1.0)))]


@pytest.mark.parametrize("method, params", CASES)
def test_each_grid_spline_solves_the_dense_system(method, params):
    data = surface(14, 17, 4)
    expected, changes = pspline_2d(data, method, **params)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        fit = quorvel.fit_2d(data, method, **params)
    assert fit.iterations == len(changes)
    np.testing.assert_allclose(fit.changes, changes, rtol=1e-6)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(data)


# irsqr's weights reach 1 / sqrt(eps) where the surface meets the data, and long runs magnify rounding: the reference
# library's own surface moves by 2e-6 of the range, and its count by two, for data times 1 + 1e-15 (60 x 80,
# defaults), so it is compared where it settles quickly.
METHODS = ["pspline_asls", "pspline_arpls", "pspline_airpls", "pspline_iarpls", "pspline_psalsa", "pspline_lsrpls",
           "pspline_brpls", "pspline_iasls", "mixture_model", "irsqr"]
SETTLED = {"irsqr": dict(lam=1e4, quantile=0.2, eps=1e-3, tol=1e-4)}


SHAPES = [((60, 80), {}),
          ((70, 50), dict(num_knots=(12, 40), spline_degree=(2, 3), diff_order=(3, 2), lam=(1e2, 1e4))),
          ((40, 90), dict(x=np.cumsum(np.linspace(2, 0.2, 40)) ** 1.5, z=np.geomspace(1, 50, 90)))]


# A larger grid for the plain system and for the one with slope terms; the rules are the same at any size.
@pytest.mark.parametrize("method, shape, params", [(m, *case) for m in METHODS for case in SHAPES] +
                         [(m, (150, 120), {}) for m in ("pspline_asls", "pspline_iasls")])
def test_each_grid_spline_agrees_with_the_reference_library(method, shape, params):
    pybaselines = pytest.importorskip("pybaselines")
    data, params = surface(*shape, seed=shape[0]), dict(params, **SETTLED.get(method, {}))
    fitter = pybaselines.Baseline2D(params.get("x"), params.get("z"))
    expected, given = getattr(fitter, method)(data, **{k: v for k, v in params.items() if k not in ("x", "z")})
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        fit = quorvel.fit_2d(data, method, **params)
    agrees_with_reference(method, fit, expected, given["tol_history"], data)


@pytest.mark.parametrize("params, words", [
    (dict(num_knots=(31, 10)), "num_knots: must be at most the number of rows"),
    (dict(num_knots=(10, 41)), "num_knots: must be at most the number of columns"),
    (dict(num_knots=(10, 1)), "num_knots"), (dict(spline_degree=(3, 6)), "spline_degree"),
    (dict(spline_degree=5, num_knots=(5, 10)), "num_knots"), (dict(diff_order=(2, 4)), "diff_order"),
    (dict(z=np.r_[0.0, np.arange(39.0)]), "z"),
    (dict(mask=np.arange(1200).reshape(30, 40) % 250 == 0, diff_order=3), "mask: must keep at least nine samples")])
def test_grid_splines_refuse_what_the_axes_cannot_carry(params, words):
    with pytest.raises(ValueError, match=words):
        quorvel.fit_2d(surface(30, 40), "pspline_asls", **params)
