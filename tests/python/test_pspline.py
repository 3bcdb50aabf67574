"""The P-splines against a dense NumPy transcription of Eilers & Marx, Statist. Sci. 11 (1996) 89, reweighted by
the asls, arpls and airpls rules or with the systems of drPLS, IAsLS and asPLS, and against the reference library."""
import warnings

import numpy as np
import pytest
from scipy.interpolate import BSpline

import quorvel
from quorvel import parameters
from support import spectrum


def design(x, num_knots, degree):
    """SciPy's B-spline design matrix on num_knots evenly spaced knots over x, continued `degree` knots past
    either end, and the middle of each basis function's support."""
    inner = np.linspace(x.min(), x.max(), num_knots)
    step = inner[1] - inner[0]
    knots = np.concatenate([inner[0] - step * np.arange(degree, 0, -1), inner,
                            inner[-1] + step * np.arange(1, degree + 1)])
    return BSpline.design_matrix(x, knots, degree).toarray(), (knots[:-degree - 1] + knots[degree + 1:]) / 2


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


def drpls(y, z, w, i, used, eta=0.5):
    d = y - z
    neg = d[(d < 0) & used]
    u = np.exp(i + 1) * (d - (2 * neg.std(ddof=1) - neg.mean())) / neg.std(ddof=1)
    new = used * 0.5 * (1 - u / (1 + np.abs(u)))
    return new, change(new, w)


def aspls(y, z, w, _, used, asymmetric_coef=0.5):
    d = y - z
    s = d[(d < 0) & used].std(ddof=1)
    new = used / (1 + np.exp(np.clip(asymmetric_coef * (d - s) / s, None, 700)))
    return new, change(new, w)


RULES = {"pspline_asls": asls, "pspline_arpls": arpls, "pspline_airpls": airpls, "pspline_iasls": asls,
         "pspline_drpls": drpls, "pspline_aspls": aspls}


def system(method, B, middles, pos, w, y, used, alpha, lam_1=1e-4, eta=0.5):
    """B'WB and B'Wy, with the terms drPLS, IAsLS and asPLS add in the coefficients' space, and the penalty's row
    scales: each sample's quantity read off linearly at the middles of the basis functions."""
    if method == "pspline_iasls":
        pairs = np.diff(np.eye(y.size), 1, axis=0)[used[1:] & used[:-1]] @ B
        return B.T @ (w[:, None] ** 2 * B) + lam_1 * pairs.T @ pairs, B.T @ (w**2 * y) + lam_1 * pairs.T @ np.diff(
            np.where(used, y, 0.0))[used[1:] & used[:-1]], 1.0
    order = np.argsort(pos)
    if method == "pspline_drpls":
        first = np.diff(np.eye(B.shape[1]), 1, axis=0)
        return B.T @ (w[:, None] * B) + first.T @ first, B.T @ (w * y), 1 - eta * np.interp(middles, pos[order],
                                                                                            w[order])
    scale = np.interp(middles, pos[order], alpha[order]) if method == "pspline_aspls" else 1.0
    return B.T @ (w[:, None] * B), B.T @ (w * y), scale


def pspline(y, method, lam=1e3, num_knots=100, spline_degree=3, diff_order=2, max_iter=50, tol=1e-3, x=None,
            mask=None, p=0.01, **rule):
    """(B'WB + lam D'D) c = B'Wy (or a method's own system), z = Bc, reweighted until the rule's measure is below
    tol (at most max_iter + 1 solves); the baseline and each solve's measure."""
    used = np.ones(y.size, bool) if mask is None else mask
    pos = np.linspace(-1, 1, y.size) if x is None else np.asarray(x, float)
    B, middles = design(pos, num_knots, spline_degree)
    D = np.diff(np.eye(B.shape[1]), diff_order, axis=0)
    w, alpha, changes, y0 = used.astype(float), np.ones(y.size), [], np.where(used, y, 0.0)
    if method == "pspline_iasls":
        w = asls(y, np.polynomial.Polynomial.fit(pos[used], y[used], 2)(pos), w, 0, used, p)[0]
    own = {k: rule.pop(k) for k in ("lam_1", "eta") if k in rule}
    if method in ("pspline_asls", "pspline_iasls"):
        rule["p"] = p
    for i in range(max_iter + 1):
        lhs, rhs, scale = system(method, B, middles, pos, w, y0, used, alpha, **own)
        z = B @ np.linalg.solve(lhs + lam * np.multiply(scale, np.ones(B.shape[1]))[:, None] * (D.T @ D), rhs)
        new, measure = RULES[method](y, z, w, i, used, **rule)
        if new is None:
            break
        changes.append(measure)
        if measure < tol:
            break
        w = new
        alpha = np.where(used, np.abs(y - z), 0.0) / np.abs(y - z)[used].max() + ~used
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
         ("pspline_asls", dict(mask=np.arange(600) % 7 != 3, spline_degree=2)),
         ("pspline_drpls", dict(mask=np.arange(600) % 7 != 3, x=UNEVEN, eta=0.8)),
         ("pspline_iasls", dict(mask=np.arange(600) % 5 != 1, spline_degree=2, lam=10.0, lam_1=0.1, p=0.05)),
         ("pspline_iasls", dict(x=UNEVEN, num_knots=400, spline_degree=1, lam=1e2)),
         ("pspline_aspls", dict(mask=np.arange(600) % 7 != 3, x=UNEVEN[::-1], diff_order=3, lam=1e3, max_iter=50))]


@pytest.mark.parametrize("method, params", CASES)
def test_each_pspline_follows_its_publication(method, params):
    y = spectrum(600, 4)
    expected, changes = pspline(y, method, **params)
    fit = fit_quietly(y, method, params)
    assert fit.iterations == len(changes)
    np.testing.assert_allclose(fit.changes, changes, rtol=1e-6)
    assert np.max(np.abs(fit.baseline - expected)) <= 1e-9 * np.ptp(y)


# pybaselines returns pspline_brpls' fit before the newest, within tol of it, and counts its fits per outer loop.
# Where pspline_aspls oscillates to max_iter, pybaselines cannot reproduce itself: y times 1 + 1e-15 moves its
# baseline by 5e-5 of the range (1000 samples of spectrum 5).


@pytest.mark.parametrize("method", [m for m in parameters.method_names(1)
                                    if m.startswith("pspline_") and m != "pspline_mpls"])
@pytest.mark.parametrize("n, params", [(1000, {}), (10_000, {}), (10_000, dict(lam=1e1, num_knots=500)),
                                       (1000, dict(spline_degree=2, diff_order=1, num_knots=31))])
def test_each_pspline_agrees_with_the_reference_library(method, n, params):
    pybaselines = pytest.importorskip("pybaselines")
    if method in ("pspline_drpls", "pspline_iasls") and params.get("diff_order") == 1:
        params = dict(params, diff_order=3)
    y = spectrum(n, 5)
    expected, given = getattr(pybaselines.Baseline(), method)(y, **params)
    fit = fit_quietly(y, method, params)
    agrees_with_reference(method, fit, expected, given["tol_history"], y,
                          1e-3 if method == "pspline_aspls" and not fit.converged else 1e-7)


def agrees_with_reference(method, fit, expected, history, data, limit=1e-7):
    """Equal iteration counts and baselines within ``limit`` of the data's range; pspline_brpls, whose reference
    keeps the fit before the newest (within tol of it), counts its fits per outer loop."""
    if method == "pspline_brpls":
        assert (fit.iterations, fit.outer_iterations) == (np.count_nonzero(history[1:]), history.shape[0] - 1)
        assert np.linalg.norm(fit.baseline - expected) < 1e-3 * np.linalg.norm(expected)
        return
    assert fit.iterations == len(history)
    assert np.max(np.abs(fit.baseline - expected)) <= limit * np.ptp(data)


@pytest.mark.parametrize("params, words", [
    (dict(num_knots=1), "num_knots"), (dict(num_knots=301), "num_knots: must be at most the number of samples"),
    (dict(spline_degree=6), "spline_degree"), (dict(spline_degree=5, num_knots=5), "num_knots"),
    (dict(x=np.r_[0.0, np.arange(299.0)]), "x")])
def test_pspline_refuses_knots_and_positions_the_data_cannot_carry(params, words):
    with pytest.raises(ValueError, match=words):
        quorvel.fit(spectrum(300, 1), "pspline_asls", **params)


# The batch functions fit a block's spectra side by side on the basis they share; each must still get the bits,
# iterations and last change of its own fit, masked or not, on the index or on uneven x.
@pytest.mark.parametrize("method", [m for m in parameters.method_names(1)
                                    if m.startswith("pspline_") or m in ("mixture_model", "irsqr")])
@pytest.mark.parametrize("masked, uneven", [(False, False), (True, False), (False, True)])
def test_a_batch_gives_each_spectrum_the_bits_of_its_own_fit(method, masked, uneven):
    n = 300
    stack = np.stack([spectrum(n, seed) * (1 + seed % 3) for seed in range(9)])
    if method != "pspline_mpls":  # whose opening of a flat line leaves it nothing to fit through
        stack[4] = 0.0  # no residuals to weight by: the rules that need them end early
    x = np.cumsum(1.0 + 0.5 * np.sin(np.arange(n))) if uneven else None
    mask = np.arange(stack.size).reshape(stack.shape) % 7 != 0 if masked else None
    params = dict(x=x, lam=1e3, num_knots=40)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        many = quorvel.fit_many(stack, method, workers=1, mask=mask, **params)
        single = [quorvel.fit(y, method, mask=None if mask is None else mask[k], **params)
                  for k, y in enumerate(stack)]
    assert many.baseline.tobytes() == np.stack([fit.baseline for fit in single]).tobytes()
    assert many.iterations.tolist() == [fit.iterations for fit in single]
    assert many.last_change.tobytes() == np.array([fit.last_change for fit in single]).tobytes()
