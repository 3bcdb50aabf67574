"""The polynomial family on grids: a NumPy least-squares surface, and agreement with the reference library."""

import numpy as np
import pytest

import quorvel


def surface(rows, cols, seed=3):
    x, z = np.linspace(-300.0, 500.0, rows), np.geomspace(10.0, 90.0, cols)
    gx, gz = np.meshgrid(x, z, indexing="ij")
    background = 50.0 + 0.05 * gx + 0.3 * gz + 1e-4 * gx * gz + 20.0 * np.exp(-(((gx - 100.0) / 400.0) ** 2))
    peaks = 30.0 * np.exp(-(((gx - 50.0) / 30.0) ** 2 + ((gz - 40.0) / 6.0) ** 2))
    return x, z, background + peaks + np.random.default_rng(seed).normal(0.0, 0.5, gx.shape)


def least_squares_surface(x, z, data, orders, max_cross=None):
    """Every term x^a z^b up to the orders, the cross terms only with a, b <= max_cross."""
    t = [(2.0 * v - (v.max() + v.min())) / (v.max() - v.min()) for v in (x, z)]
    gx, gz = np.meshgrid(*t, indexing="ij")
    cross = np.inf if max_cross is None else max_cross
    terms = [gx**a * gz**b for a in range(orders[0] + 1) for b in range(orders[1] + 1)
             if a == 0 or b == 0 or (a <= cross and b <= cross)]
    design = np.stack([term.ravel() for term in terms], axis=1)
    return (design @ np.linalg.lstsq(design, data.ravel(), rcond=None)[0]).reshape(data.shape)


@pytest.mark.parametrize("orders, max_cross", [((2, 2), None), ((3, 1), None), ((4, 4), 1), ((5, 3), 0)])
def test_poly_is_the_least_squares_surface(orders, max_cross):
    x, z, data = surface(40, 30)
    got = quorvel.baseline_2d(data, "poly", x=x, z=z, poly_order=orders, max_cross=max_cross)
    assert np.max(np.abs(got - least_squares_surface(x, z, data, orders, max_cross))) <= 1e-11 * np.ptp(data)


@pytest.mark.parametrize("method, params", [
    ("poly", dict(poly_order=(3, 1))), ("modpoly", {}), ("modpoly", dict(mask_initial_peaks=True, max_cross=0)),
    ("imodpoly", dict(poly_order=(2, 3))), ("penalized_poly", {}),
    ("penalized_poly", dict(cost_function="asymmetric_huber", threshold=2.0)), ("quant_reg", dict(eps=1.0))])
def test_surfaces_agree_with_the_reference_library(method, params):
    pybaselines = pytest.importorskip("pybaselines")
    x, z, data = surface(60, 45)
    fit = quorvel.fit_2d(data, method, x=x, z=z, **params)
    reference, info = getattr(pybaselines.Baseline2D(x, z), method)(data, **params)
    assert fit.iterations == len(info.get("tol_history", [None]))
    assert np.max(np.abs(fit.baseline - reference)) <= 1e-10 * np.ptp(data)


def test_a_surface_order_needs_as_many_rows_and_columns():
    with pytest.raises(ValueError, match="poly_order"):
        quorvel.baseline_2d(np.ones((3, 40)), "modpoly", poly_order=3)


@pytest.mark.parametrize("corner", [(40, 30), (8, 6)])
def test_a_masked_surface_fits_the_used_points(corner):
    # A small corner is ill-conditioned for one solve of the normal equations.
    x, z, data = surface(40, 30)
    used = np.zeros(data.shape, bool)
    used[:corner[0], :corner[1]] = True
    got = quorvel.baseline_2d(np.where(used, data, np.nan), "poly", x=x, z=z, mask=used, poly_order=3)
    t = [(2.0 * v - (v.max() + v.min())) / (v.max() - v.min()) for v in (x, z)]
    gx, gz = np.meshgrid(*t, indexing="ij")
    design = np.stack([(gx**a * gz**b)[used] for a in range(4) for b in range(4)], axis=1)
    expected = design @ np.linalg.lstsq(design, data[used], rcond=None)[0]
    assert np.max(np.abs(got[used] - expected)) <= 1e-8 * np.ptp(data)
    assert np.all(np.isfinite(got))


def banded(rows, cols, kept=0.8):
    """A smooth surface with all but the first `kept` of its columns masked: at order 10 the normal equations'
    condition is about 10^8 for 0.8 and 10^17 for 0.4, too ill-conditioned for one solve; 0.4 is too
    ill-conditioned even to factorise them exactly."""
    x, z = np.linspace(0.0, 1.0, rows), np.linspace(0.0, 1.0, cols)
    gx, gz = np.meshgrid(x, z, indexing="ij")
    data = np.sin(3.0 * gx) + gz**2 + np.random.default_rng(1).normal(0.0, 0.05, gx.shape)
    used = np.ones(data.shape, bool)
    used[:, int(kept * cols):] = False
    return x, z, data, used


@pytest.mark.parametrize("kept", [0.8, 0.4])
def test_an_ill_conditioned_mask_still_gives_the_least_squares_surface(kept):
    x, z, data, used = banded(120, 90, kept)
    got = quorvel.baseline_2d(np.where(used, data, np.nan), "poly", mask=used, poly_order=10)
    t = [np.linspace(-1.0, 1.0, v.size) for v in (x, z)]
    basis = [np.polynomial.chebyshev.chebvander(v, 10) for v in t]
    design = np.einsum("ia,jb->ijab", *basis).reshape(data.size, -1)
    coefficients = np.linalg.lstsq(design[used.ravel()], data[used], rcond=None)[0]
    # Past a condition of 10^16 the coefficients grow (4e5 at 0.4) and evaluating any surface rounds with them.
    rounding = 64 * np.finfo(float).eps * np.abs(coefficients).sum()
    assert np.max(np.abs(got[used] - (design @ coefficients).reshape(data.shape)[used])) <= (
        1e-9 * np.ptp(data) + rounding)

