"""The grid methods against independent computations."""
import numpy as np
import pytest
from scipy import ndimage
from scipy.special import expit

from quorvel import _native
from support import METHODS_2D

EPS = np.finfo(np.float64).eps


def surface(rows, cols, seed=0):
    """A tilted, curved background under two bumps, with a little noise."""
    y, x = np.mgrid[0.0:1.0:rows * 1j, 0.0:1.0:cols * 1j]
    bumps = 4.0 * np.exp(-((x - 0.3) ** 2 + (y - 0.6) ** 2) / 0.01) + 2.0 * np.exp(-((x - 0.7) ** 2 + y ** 2) / 0.005)
    noise = 0.05 * np.random.default_rng(seed).standard_normal((rows, cols))
    return 1.0 + x + 0.5 * y ** 2 + np.sin(2.0 * x) + bumps + noise


def penalty(m):
    second = np.diff(np.eye(m), 2, axis=0)
    return second.T @ second


def whittaker_2d(data, reweight, lam=1e4, max_iter=50, tol=1e-3):
    rows, cols = data.shape
    y, weights = data.ravel(), np.ones(data.size)
    system = lam * (np.kron(penalty(rows), np.eye(cols)) + np.kron(np.eye(rows), penalty(cols)))
    for _ in range(max_iter):
        floored = np.maximum(weights, 1e-8)
        z = np.linalg.solve(np.diag(floored) + system, floored * y)
        weights, previous = reweight(y - z), weights
        if np.linalg.norm(weights - previous) / max(np.linalg.norm(previous), EPS) <= tol:
            break
    return z.reshape(rows, cols)


def arpls_weights(d):
    below = d[d < 0]
    if below.size < 2:
        return np.ones_like(d)
    spread = below.std(ddof=1)
    return expit(-2.0 * (d - (2.0 * spread - below.mean())) / max(spread, EPS))


REWEIGHT = {"asls": lambda d: np.where(d > 0, 0.01, 0.99), "arpls": arpls_weights}


# Up to 512 points the systems are solved directly; larger grids stop the conjugate gradients at a
# relative residual of 1e-6, which leaves the surface correct to far fewer digits.
@pytest.mark.parametrize("method", ["asls", "arpls"])
@pytest.mark.parametrize("shape, atol", [((8, 10), 1e-8), ((3, 12), 1e-8), ((12, 3), 1e-8), ((24, 30), 1e-3)])
def test_whittaker_matches_a_dense_solution(method, shape, atol):
    data = surface(*shape)
    scale = np.ptp(data)
    if method == "arpls":
        data[1, 2] += 1e5  # a weight far below the floor of 1e-8
    expected = whittaker_2d(data, REWEIGHT[method])
    np.testing.assert_allclose(_native.baseline_2d(data, method), expected, rtol=0, atol=atol * scale)


# Constants, planes and x * y are free of penalty, also along an axis of only three points.
@pytest.mark.parametrize("method", ["asls", "arpls"])
@pytest.mark.parametrize("shape", [(3, 3), (3, 10), (10, 3), (3, 40), (40, 3)])
@pytest.mark.parametrize("tilt", [0.0, 1.0])
def test_grids_three_wide_keep_constants_and_planes(method, shape, tilt):
    i, j = np.indices(shape, dtype=np.float64)
    data = -2.5 + tilt * (0.5 * i - 0.25 * j + 0.125 * i * j)
    np.testing.assert_allclose(_native.baseline_2d(data, method), data, rtol=0, atol=1e-7 * np.abs(data).max())


# The window (7 x 7) is larger than most of these grids: its positions bounce off both edges.
@pytest.mark.parametrize("shape", [(1, 1), (1, 6), (2, 5), (3, 3), (4, 9), (7, 7), (12, 40), (40, 33)])
def test_rolling_ball_is_an_opening_then_a_box_mean(shape):
    data = surface(*shape, seed=shape[1])
    opened = ndimage.grey_opening(data, size=(7, 7), mode="reflect")
    expected = ndimage.uniform_filter(opened, size=7, mode="reflect")
    np.testing.assert_allclose(_native.baseline_2d(data, "rolling_ball"), expected, rtol=0, atol=1e-12)


@pytest.mark.parametrize("shape", [(3, 3), (3, 4), (5, 8), (40, 40), (31, 3)])
def test_polynomial_is_a_least_squares_surface(shape):
    data = surface(*shape, seed=2)
    y, x = np.meshgrid(np.linspace(-1.0, 1.0, shape[0]), np.linspace(-1.0, 1.0, shape[1]), indexing="ij")
    basis = np.stack([(x ** a * y ** b).ravel() for a in range(3) for b in range(3)], axis=1)
    expected = basis @ np.linalg.lstsq(basis, data.ravel(), rcond=None)[0]
    np.testing.assert_allclose(_native.baseline_2d(data, "poly"), expected.reshape(shape), rtol=0, atol=1e-11)


@pytest.mark.parametrize("method", METHODS_2D)
def test_layout_never_changes_the_result(method):
    grid = surface(10, 14, seed=4)
    layouts = [np.asfortranarray(grid), grid.T, grid[::-1, ::-1], grid[1::2, ::3],
               np.broadcast_to(grid[4], (6, 14)), np.broadcast_to(grid[:, 5:6], (10, 4))]
    for given in layouts:
        contiguous = np.ascontiguousarray(given)
        base = _native.baseline_2d(given, method)
        assert np.array_equal(base, _native.baseline_2d(contiguous, method))
        # the subtraction is the only step between the two results
        assert np.array_equal(_native.correct_2d(given, method), contiguous - base)
