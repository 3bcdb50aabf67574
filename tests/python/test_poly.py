"""poly: the least-squares polynomial, exact to NumPy's accuracy up to high orders, on any x and mask."""
import numpy as np
import pytest

import quorvel
from polynomial_reference import fluorescent


@pytest.mark.parametrize("order", [0, 2, 5, 10])
@pytest.mark.parametrize("n, x", [(50, None), (1000, "uneven"), (10_000, "descending")])
def test_poly_is_numpys_least_squares_fit(order, n, x):
    positions, y = fluorescent(n)
    positions = {None: np.arange(n, dtype=float), "uneven": positions, "descending": positions[::-1]}[x]
    expected = np.polynomial.Polynomial.fit(positions, y, order)(positions)
    got = quorvel.baseline(y, "poly", poly_order=order, x=None if x is None else positions)
    assert np.max(np.abs(got - expected)) <= 1e-11 * np.ptp(y)


@pytest.mark.parametrize("kept", [slice(0, 500), slice(0, 100), slice(450, 470)])
def test_a_mask_fits_the_used_samples_and_evaluates_everywhere(kept):
    # A fit on a small part of the axis is ill-conditioned on [-1, 1] (condition 5e7 on a tenth of it): the basis
    # orthogonalised under the mask stays within 1e-8 of a fit on the used part's own domain, NumPy's polyfit on
    # the whole axis's within 1e-7.
    x, y = fluorescent(1000)
    used = np.zeros(y.size, bool)
    used[kept] = True
    got = quorvel.baseline(np.where(used, y, np.nan), "poly", x=x, mask=used, poly_order=5)
    expected = np.polynomial.Polynomial.fit(x[used], y[used], 5)(x[used])
    assert np.max(np.abs(got[used] - expected)) <= 2e-8 * np.ptp(y)
    assert np.all(np.isfinite(got))


def test_poly_agrees_with_the_reference_library():
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(3000)
    for order in (2, 7):
        reference, _ = pybaselines.Baseline(x).poly(y, poly_order=order)
        assert np.max(np.abs(quorvel.baseline(y, "poly", x=x, poly_order=order) - reference)) <= 1e-10 * np.ptp(y)


def test_the_fixed_default_modules_poly_is_still_polynomial():
    y = fluorescent(300)[1]
    assert np.array_equal(quorvel._native.baseline(y, "poly"), quorvel._native.baseline(y, "polynomial"))
