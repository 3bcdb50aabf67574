import numpy as np
import pytest
from scipy import ndimage
from scipy.special import expit

from quorvel import _native
from support import make_spectrum

EPS = np.finfo(np.float64).eps


def whittaker(y, reweight, lam=1e6, max_iter=50, tol=1e-3):
    second = np.diff(np.eye(y.size), 2, axis=0)
    system, weights = lam * second.T @ second, np.ones(y.size)
    for iteration in range(max_iter):
        z = np.linalg.solve(np.diag(weights) + system, weights * y)
        weights, previous = reweight(y - z, iteration), weights
        if np.linalg.norm(weights - previous) / max(np.linalg.norm(previous), EPS) <= tol:
            break
    return z


def arpls_weights(d, iteration):
    below = d[d < 0]
    if below.size == 0:
        return np.ones_like(d)
    spread = max(below.std(), EPS)
    return expit(-2.0 * (d - (2.0 * spread - below.mean())) / spread)


def airpls_weights(d, iteration):
    total = -d[d < 0].sum()
    if total <= EPS:
        return np.ones_like(d)
    with np.errstate(over="ignore"):
        weights = np.where(d < 0, np.minimum(np.exp((iteration + 1) / total * -d), 1e12), 0.0)
    weights[[0, -1]] = 1.0
    return weights


# airPLS weights reach 1e12, which leaves its systems far worse conditioned than the others.
@pytest.mark.parametrize("method, reweight, rtol", [
    ("asls", lambda d, iteration: np.where(d > 0, 0.01, 0.99), 1e-7),
    ("arpls", arpls_weights, 1e-7), ("airpls", airpls_weights, 1e-5),
])
def test_whittaker_methods_match_a_dense_solution(spectrum, method, reweight, rtol):
    expected = whittaker(spectrum, reweight)
    np.testing.assert_allclose(_native.baseline(spectrum, method), expected, rtol=0, atol=rtol * np.ptp(spectrum))


LINES = [np.full(200, 3.5), 0.75 * np.arange(200.0) - 40.0]


@pytest.mark.parametrize("method, y", [(m, y) for m in ("asls", "airpls") for y in ([5.0, 5.0, 5.0], [-2.0, 0.5, 3.0])]
                         + [(m, y) for m in ("asls", "arpls", "airpls", "polynomial") for y in LINES])
def test_straight_lines_are_kept(method, y):
    np.testing.assert_allclose(_native.baseline(np.array(y), method), y, rtol=1e-6, atol=1e-6)


@pytest.mark.parametrize("n", [3, 5, 200])
def test_polynomial_matches_polyfit(n):
    y, x = make_spectrum(n, seed=n), np.linspace(-1.0, 1.0, n)
    expected = np.polyval(np.polyfit(x, y, 2), x)
    np.testing.assert_allclose(_native.baseline(y, "polynomial"), expected, rtol=1e-12, atol=1e-12)
    peak = np.array([0.0, 0.0, 10.0, 0.0, 0.0])  # a least-squares fit, not a lower envelope
    np.testing.assert_allclose(_native.correct(peak, "poly"), np.array([6, -24, 36, -24, 6]) / 7, rtol=1e-13)


def rolling_ball(y, size=31):
    """Opening, then a centred mean over ends extended by lines fitted to the nearest samples."""
    half, n = size // 2, y.size
    opened = ndimage.grey_opening(y, size=size, mode="reflect")
    m, at = max(1, min(n, half)), np.arange(n + 2.0 * half)
    left, right = [np.polyfit(at[half + i:half + i + m], opened[i:i + m], 1) if m > 1 else (0.0, opened[i])
                   for i in (0, n - m)]
    padded = np.concatenate([np.polyval(left, at[:half]), opened, np.polyval(right, at[half + n:])])
    return np.convolve(padded, np.ones(size) / size, mode="valid")


@pytest.mark.parametrize("n", [1, 2, 5, 16, 31, 40, 200])
def test_rolling_ball_matches_opening_and_extended_mean(n):
    y = make_spectrum(200, seed=n)[:n]
    np.testing.assert_allclose(_native.baseline(y, "rolling_ball"), rolling_ball(y), rtol=1e-12, atol=1e-12)


def test_rolling_ball_keeps_lines_away_from_the_flattened_end():
    # The opening flattens a rising line near its end and a falling one near its start.
    rising = 0.25 * np.arange(200.0) - 3.0
    np.testing.assert_allclose(_native.baseline(rising, "rolling_ball")[:170], rising[:170], rtol=1e-12)
    np.testing.assert_allclose(_native.baseline(rising[::-1], "rolling_ball")[30:], rising[::-1][30:], rtol=1e-12)
