"""amormol against a NumPy transcription of Chen et al., Appl. Spectrosc. 73 (2019) 284, and against the
reference library."""
import warnings

import numpy as np
import pytest

import quorvel
from support import agrees_with_reference, flat, make_spectrum, opening, spectrum


def extended(y, count):
    """y with `count` samples at each end on the least-squares line through its outermost `count`."""
    m = min(count, y.size)
    steps = np.arange(1, count + 1)
    left = np.polynomial.polynomial.Polynomial.fit(np.arange(m), y[:m], 1)
    right = np.polynomial.polynomial.Polynomial.fit(np.arange(m), y[-m:], 1)
    return np.concatenate([left(-steps[::-1]), y, right(m - 1 + steps)])


def amormol(y, half, tol=1e-3, max_iter=200):
    """b <- mollified min(y, mean of b's opening and closing) on the extended data, until the relative change
    of b over y's samples is below tol; the newest baseline, and the changes."""
    width = 2 * half + 1
    padded, inner = extended(y, width), slice(width, width + y.size)
    x = np.arange(-width, width + 1) / width
    kernel = np.zeros(x.size)
    kernel[1:-1] = np.exp(-1.0 / (1.0 - x[1:-1] ** 2))
    kernel /= kernel.sum()
    baseline, changes = padded, []
    for _ in range(max_iter + 1):
        closing = flat(flat(baseline, (half,), np.max), (half,), np.min)
        capped = np.minimum(padded, 0.5 * (closing + opening(baseline, (half,))))
        new = np.convolve(np.pad(capped, width, mode="reflect"), kernel, mode="valid")
        changes.append(np.linalg.norm(new[inner] - baseline[inner]) / np.linalg.norm(baseline[inner]))
        baseline = new
        if changes[-1] < tol:
            break
    return baseline[inner], changes


@pytest.mark.parametrize("y, half, params", [(make_spectrum(300), 10, {}), (make_spectrum(60), 3, dict(tol=1e-2)),
                                             (make_spectrum(40), 25, {}), (spectrum(400, 6), 6, dict(max_iter=3))])
def test_amormol_follows_its_publication(y, half, params):
    expected, changes = amormol(y, half, **params)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        got = quorvel.fit(y, "amormol", half_window=half, **params)
    assert got.iterations == len(changes) and got.converged == (changes[-1] < params.get("tol", 1e-3))
    np.testing.assert_allclose(got.changes, changes, rtol=1e-7)
    assert np.max(np.abs(got.baseline - expected)) <= 1e-9 * np.ptp(y)


@pytest.mark.parametrize("y, half", [(spectrum(1000, 1), None), (spectrum(1000, 2), 10), (spectrum(10_000, 3), 40)])
def test_amormol_agrees_with_the_reference_library(y, half):
    agrees_with_reference("amormol", y, half, 1e-9)
