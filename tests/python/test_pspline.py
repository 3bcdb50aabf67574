"""The P-splines against a dense NumPy transcription of Eilers & Marx, Statist. Sci. 11 (1996) 89, reweighted by
the asls, arpls and airpls rules, and against the reference library."""
import warnings

import numpy as np
import pytest
from scipy.interpolate import BSpline

import quorvel
from support import spectrum


def design(x, num_knots, degree):
    """SciPy's B-spline design matrix on num_knots evenly spaced knots over x, continued `degree` knots past
    either end."""
    inner = np.linspace(x.min(), x.max(), num_knots)
    step = inner[1] - inner[0]
    knots = np.concatenate([inner[0] - step * np.arange(degree, 0, -1), inner,
                            inner[-1] + step * np.arange(1, degree + 1)])
    return BSpline.design_matrix(x, knots, degree).toarray()


def change(new, old):
    return np.linalg.norm(new - old) / np.linalg.norm(old)


def asls(y, z, w, _, used, p=0.01):
    new = np.where(y > z, p, 1 - p) * used
    return new, change(new, w)


def arpls(y, z, w, _, used):
    d = y - z
    neg = d[(d < 0) & used]
    s, m = neg.std(ddof=1), neg.mean()
    new = used / (1 + np.exp(np.clip(2 * (d - (2 * s - m)) / s, None, 700)))
    return new, change(new, w)


def airpls(y, z, _, i, used):
    d = np.where(used, y - z, 0.0)
    neg = d < 0
    if neg.sum() < 2:
        return None, None
    total = -d[neg].sum()
    return np.where(neg, np.minimum(np.exp((i + 1) * -d / total), 1e12), 0.0), total / np.abs(y[used]).sum()


RULES = {"pspline_asls": asls, "pspline_arpls": arpls, "pspline_airpls": airpls}


def pspline(y, method, lam=1e3, num_knots=100, spline_degree=3, diff_order=2, max_iter=50, tol=1e-3, x=None,
            mask=None, **rule):
    """(B'WB + lam D'D) c = B'Wy, z = Bc, reweighted until the rule's measure is below tol (at most max_iter + 1
    solves); the baseline and each solve's measure."""
    used = np.ones(y.size, bool) if mask is None else mask
    B = design(np.linspace(-1, 1, y.size) if x is None else np.asarray(x, float), num_knots, spline_degree)
    D = np.diff(np.eye(B.shape[1]), diff_order, axis=0)
    w, changes = used.astype(float), []
    for i in range(max_iter + 1):
        z = B @ np.linalg.solve(B.T @ (w[:, None] * B) + lam * D.T @ D, B.T @ (w * np.where(used, y, 0.0)))
        new, measure = RULES[method](y, z, w, i, used, **rule)
        if new is None:
            break
        changes.append(measure)
        if measure < tol:
            break
        w = new
    return z, changes


def fit_quietly(y, method, params):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        return quorvel.fit(y, method, **params)


UNEVEN = np.cumsum(np.random.default_rng(3).uniform(0.2, 1.8, 600))
CASES = [("pspline_asls", {}), ("pspline_asls", dict(p=0.05, lam=10.0, num_knots=40, diff_order=1)),
         ("pspline_asls", dict(spline_degree=0, num_knots=30, diff_order=1)),
         ("pspline_asls", dict(spline_degree=5, diff_order=3, x=UNEVEN)),
         ("pspline_arpls", {}), ("pspline_arpls", dict(spline_degree=1, num_knots=250, lam=1.0, x=UNEVEN[::-1])),
         ("pspline_airpls", {}), ("pspline_airpls", dict(spline_degree=4, num_knots=20, max_iter=5, tol=0.0)),
         ("pspline_asls", dict(mask=np.arange(600) % 7 != 3, spline_degree=2))]


@pytest.mark.parametrize("method, params", CASES)
def test_each_pspline_follows_its_publication(method, params):
    y = spectrum(600, 4)
    expected, changes = pspline(y, method, **params)
    fit = fit_quietly(y, method, params)
    assert fit.iterations == len(changes)
    np.testing.assert_allclose(fit.changes, changes, rtol=1e-6)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)


@pytest.mark.parametrize("method", list(RULES))
@pytest.mark.parametrize("n, params", [(1000, {}), (10_000, {}), (10_000, dict(lam=1e1, num_knots=500)),
                                       (1000, dict(spline_degree=2, diff_order=1, num_knots=31))])
def test_each_pspline_agrees_with_the_reference_library(method, n, params):
    pybaselines = pytest.importorskip("pybaselines")
    y = spectrum(n, 5)
    expected, given = getattr(pybaselines.Baseline(), method)(y, **params)
    fit = fit_quietly(y, method, params)
    assert fit.iterations == len(given["tol_history"])
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-7 * np.ptp(y)


@pytest.mark.parametrize("params, words", [
    (dict(num_knots=1), "num_knots"), (dict(num_knots=301), "num_knots: must be at most the number of samples"),
    (dict(spline_degree=6), "spline_degree"), (dict(spline_degree=5, num_knots=5), "num_knots"),
    (dict(x=np.r_[0.0, np.arange(299.0)]), "x")])
def test_pspline_refuses_knots_and_positions_the_data_cannot_carry(params, words):
    with pytest.raises(ValueError, match=words):
        quorvel.fit(spectrum(300, 1), "pspline_asls", **params)
