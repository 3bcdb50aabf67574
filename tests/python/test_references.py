"""Every method against an independent computation: dense solves, NumPy least squares, SciPy morphology.

Calls without keywords or mask take the native module; the others take the tunable one.
"""
import numpy as np
import pytest
from scipy import ndimage
from scipy.special import expit

import quorvel
from support import bits, make_spectrum

EPS = np.finfo(np.float64).eps


def penalty(n, lam=1.0, order=2):
    difference = np.diff(np.eye(n), order, axis=0)
    return lam * difference.T @ difference


def grid_penalty(rows, cols, lam_rows, lam_cols, order_rows=2, order_cols=2):
    return (np.kron(penalty(rows, lam_rows, order_rows), np.eye(cols))
            + np.kron(np.eye(rows), penalty(cols, lam_cols, order_cols)))


def dense_whittaker(y, system, reweight, used, floor=0.0, max_iter=50, tol=1e-3):
    """Reweighted penalised least squares by dense solves: the baseline and the iterations run."""
    y, weights = np.where(used, y, 0.0), used.astype(float)
    for iteration in range(max_iter):
        solve_weights = np.where(used, np.maximum(weights, floor), 0.0)
        z = np.linalg.solve(np.diag(solve_weights) + system, solve_weights * y)
        new = np.zeros(y.size)
        new[used] = reweight((y - z)[used], iteration)
        change = np.linalg.norm(new - weights) / max(np.linalg.norm(weights), EPS)
        weights = new
        if change <= tol:
            break
    return z, iteration + 1


def asls_weights(p):
    return lambda d, iteration: np.where(d > 0, p, 1 - p)


def arpls_weights(ddof):
    def reweight(d, iteration):
        below = d[d < 0]
        if below.size <= ddof:
            return np.ones_like(d)
        spread = max(below.std(ddof=ddof), EPS)
        return expit(-2.0 * (d - (2.0 * spread - below.mean())) / spread)
    return reweight


def airpls_weights(d, iteration):
    total = -d[d < 0].sum()
    if total <= EPS:
        return np.ones_like(d)
    with np.errstate(over="ignore"):
        weights = np.where(d < 0, np.minimum(np.exp((iteration + 1) / total * -d), 1e12), 0.0)
    weights[[0, -1]] = 1.0
    return weights


# airPLS weights reach 1e12, which leaves its systems far worse conditioned than the others.
@pytest.mark.parametrize("method, params, reweight, masked, atol", [
    ("asls", {}, asls_weights(0.01), False, 1e-7), ("arpls", {}, arpls_weights(0), False, 1e-7),
    ("airpls", {}, airpls_weights, False, 1e-5),
    ("asls", dict(lam=300.0, p=0.05, max_iter=30, tol=1e-4), asls_weights(0.05), True, 1e-9),
    ("arpls", dict(lam=2e3, max_iter=40, tol=1e-3), arpls_weights(0), False, 1e-9),
    ("arpls", dict(lam=2e3, max_iter=40, tol=1e-3), arpls_weights(0), True, 1e-9),
    ("asls", dict(lam=30.0, diff_order=1), asls_weights(0.01), True, 1e-9),
    ("arpls", dict(lam=1e5, diff_order=3), arpls_weights(0), True, 1e-8),
    ("airpls", dict(lam=1e2, diff_order=1, max_iter=8), airpls_weights, False, 1e-7),
])
def test_whittaker_matches_dense_solves(method, params, reweight, masked, atol):
    y = make_spectrum(200 if not params else 60, seed=2)
    used = np.ones(y.size, bool)
    if masked:
        used[[0, 7, 8, 30, 59]] = False
        y[~used] = np.nan
    system = penalty(y.size, params.get("lam", 1e6), params.get("diff_order", 2))
    z, iterations = dense_whittaker(y, system, reweight, used, max_iter=params.get("max_iter", 50),
                                    tol=params.get("tol", 1e-3))
    scale = np.ptp(y[used])
    if not params:
        np.testing.assert_allclose(quorvel.baseline(y, method), z, rtol=0, atol=atol * scale)
    result = quorvel.fit(y, method, mask=used if masked else None, **params)
    np.testing.assert_allclose(result.baseline, z, rtol=0, atol=atol * scale)
    assert result.iterations == iterations and result.changes.size == iterations
    assert result.last_change == result.changes[-1] and not result.weights[~used].any()
    assert np.isnan(result.corrected[~used]).all() and bits(result.corrected[used]) == bits((y - result.baseline)[used])


def surface(rows, cols, seed=0):
    """A tilted, curved background under two bumps, with a little noise."""
    y, x = np.mgrid[0.0:1.0:rows * 1j, 0.0:1.0:cols * 1j]
    bumps = 4.0 * np.exp(-((x - 0.3) ** 2 + (y - 0.6) ** 2) / 0.01) + 2.0 * np.exp(-((x - 0.7) ** 2 + y ** 2) / 0.005)
    noise = 0.05 * np.random.default_rng(seed).standard_normal((rows, cols))
    return 1.0 + x + 0.5 * y ** 2 + np.sin(2.0 * x) + bumps + noise


# Up to 512 points the systems are solved directly; larger grids stop the conjugate gradients at a
# relative residual of 1e-6 by default, which leaves the surface correct to far fewer digits.
DEFAULT_GRIDS = [(method, shape, {}, False, atol) for method in ("asls", "arpls")
                 for shape, atol in [((8, 10), 1e-8), ((3, 12), 1e-8), ((12, 3), 1e-8), ((24, 30), 1e-3)]]
TUNED_GRIDS = [("asls", (9, 11), dict(lam=(7.0, 40.0), p=0.02, solver=solver, cg_tol=1e-12), masked, 1e-9)
               for solver in ("cg", "multigrid") for masked in (False, True)]
# Each order through the banded solve (9 x 11), plain conjugate gradients (its 40 columns; the third order's need
# more than 500 steps) and multigrid.
ORDERED_GRIDS = [(method, shape, dict(lam=(7.0, 40.0), diff_order=order, solver=solver, cg_tol=1e-12,
                                      cg_max_iter=5000), masked, 1e-8)
                 for method in ("asls", "arpls") for order in (1, 3, (3, 1))
                 for shape, solver, masked in [((9, 11), "cg", True), ((9, 40), "cg", False),
                                               ((9, 40), "multigrid", True)]]


@pytest.mark.parametrize("method, shape, params, masked, atol", DEFAULT_GRIDS + TUNED_GRIDS + ORDERED_GRIDS)
def test_grid_whittaker_matches_dense_solves(method, shape, params, masked, atol):
    data = surface(*shape)
    if method == "arpls":
        data[1, 2] += 1e5  # a weight far below the floor of 1e-8
    used = np.ones(shape, bool)
    if masked:
        used[2, 3:6] = used[7, 0] = False
    lam = params.get("lam", (1e4, 1e4))
    reweight = asls_weights(params.get("p", 0.01)) if method == "asls" else arpls_weights(1)
    orders = np.broadcast_to(params.get("diff_order", 2), 2)
    system = grid_penalty(*shape, *lam, *orders)
    z, iterations = dense_whittaker(data.ravel(), system, reweight, used.ravel(), floor=1e-8)
    scale = np.ptp(data)
    if params:
        result = quorvel.fit_2d(np.where(used, data, np.inf), method, mask=used if masked else None, **params)
        np.testing.assert_allclose(result.baseline.ravel(), z, rtol=0, atol=atol * scale)
        assert result.iterations == iterations
    else:
        np.testing.assert_allclose(quorvel.baseline_2d(data, method).ravel(), z, rtol=0, atol=atol * scale)


def plane(shape, tilt):
    i, j = np.indices(shape, dtype=np.float64)
    return -2.5 + tilt * (0.5 * i - 0.25 * j + 0.125 * i * j)


# Constants, lines, planes and x * y are free of penalty, also along an axis of only three points.
@pytest.mark.parametrize("method, data", [(m, np.array(y)) for m in ("asls", "airpls")
                                          for y in ([5.0, 5.0, 5.0], [-2.0, 0.5, 3.0])]
                         + [(m, y) for m in ("asls", "arpls", "airpls", "polynomial")
                            for y in (np.full(200, 3.5), 0.75 * np.arange(200.0) - 40.0)]
                         + [(m, plane(shape, tilt)) for m in ("asls", "arpls") for tilt in (0.0, 1.0)
                            for shape in [(3, 3), (3, 10), (10, 3), (3, 40), (40, 3)]])
def test_lines_and_planes_are_kept(method, data):
    function = quorvel.baseline if data.ndim == 1 else quorvel.baseline_2d
    np.testing.assert_allclose(function(data, method), data, rtol=0, atol=1e-7 * np.abs(data).max())


@pytest.mark.parametrize("n, order, masked", [(3, None, False), (5, None, False), (200, None, False),
                                              (120, 0, True), (120, 3, True), (120, 5, True)])
def test_polynomial_matches_numpy_least_squares(n, order, masked):
    y, x = make_spectrum(n, seed=n), np.linspace(-1.0, 1.0, n)
    used = np.random.default_rng(n).random(n) > 0.3 if masked else np.ones(n, bool)
    fit = np.polynomial.polynomial.polyfit(x[used], y[used], 2 if order is None else order)
    params = {} if order is None else dict(mask=used, poly_order=order)
    np.testing.assert_allclose(quorvel.baseline(np.where(used, y, np.nan), "polynomial", **params),
                               np.polynomial.polynomial.polyval(x, fit), rtol=1e-10, atol=1e-10)


@pytest.mark.parametrize("shape, order, masked", [((3, 3), None, False), ((3, 4), None, False), ((5, 8), None, False),
                                                  ((40, 40), None, False), ((31, 3), None, False), ((9, 11), 1, True)])
def test_surface_polynomial_matches_numpy_least_squares(shape, order, masked):
    data = surface(*shape, seed=2)
    used = np.random.default_rng(1).random(shape) > 0.4 if masked else np.ones(shape, bool)
    y, x = np.meshgrid(np.linspace(-1.0, 1.0, shape[0]), np.linspace(-1.0, 1.0, shape[1]), indexing="ij")
    top = 2 if order is None else order
    basis = np.stack([x ** a * y ** b for a in range(top + 1) for b in range(top + 1)], axis=-1)
    params = {} if order is None else dict(mask=used, poly_order=order)
    expected = basis @ np.linalg.lstsq(basis[used], data[used], rcond=None)[0]
    np.testing.assert_allclose(quorvel.baseline_2d(np.where(used, data, np.nan), "poly", **params), expected,
                               rtol=0, atol=1e-11)


def rolling_ball(y, half):
    """Opening, then a centred mean over ends extended by lines fitted to the nearest samples."""
    size, n = 2 * half + 1, y.size
    opened = ndimage.grey_opening(y, size=size, mode="reflect")
    m, at = max(1, min(n, half)), np.arange(n + 2.0 * half)
    left, right = [np.polyfit(at[half + i:half + i + m], opened[i:i + m], 1) if m > 1 else (0.0, opened[i])
                   for i in (0, n - m)]
    padded = np.concatenate([np.polyval(left, at[:half]), opened, np.polyval(right, at[half + n:])])
    return np.convolve(padded, np.ones(size) / size, mode="valid")


@pytest.mark.parametrize("n, half", [(1, None), (2, None), (5, None), (16, None), (31, None), (40, None),
                                     (200, None), (120, 5), (9, 1)])
def test_rolling_ball_matches_opening_and_extended_mean(n, half):
    y = make_spectrum(200, seed=n)[:n]
    params = {} if half is None else {"half_window": half}
    np.testing.assert_allclose(quorvel.baseline(y, "rolling_ball", **params), rolling_ball(y, half or 15),
                               rtol=1e-12, atol=1e-12)


# The window is larger than most of these grids: its positions bounce off both edges.
@pytest.mark.parametrize("shape, half", [((1, 1), None), ((1, 6), None), ((2, 5), None), ((3, 3), None),
                                         ((4, 9), None), ((7, 7), None), ((12, 40), None), ((40, 33), None),
                                         ((9, 11), (1, 3))])
def test_grid_rolling_ball_is_an_opening_then_a_box_mean(shape, half):
    data = surface(*shape, seed=shape[1])
    size = (7, 7) if half is None else (2 * half[0] + 1, 2 * half[1] + 1)
    params = {} if half is None else {"half_window": half}
    expected = ndimage.uniform_filter(ndimage.grey_opening(data, size=size, mode="reflect"), size=size, mode="reflect")
    np.testing.assert_allclose(quorvel.baseline_2d(data, "rolling_ball", **params), expected, rtol=0, atol=1e-12)
