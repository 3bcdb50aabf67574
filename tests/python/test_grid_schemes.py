"""The grid forms of the Whittaker schemes against dense solves of their Kronecker-sum systems and the reference
library's exact solves."""
import numpy as np
import pytest

import quorvel
import whittaker_rules as rules
from support import bits
from test_references import surface

SCHEMES = ["airpls", "iarpls", "psalsa", "lsrpls", "aspls", "brpls", "iasls", "drpls"]
SHAPE = (20, 24)
TIGHT = dict(cg_tol=1e-12)
# aspls amplifies every rounding from one reweighting to the next (as its spectra do), so it is compared over a
# few of them; tol=0 never stops early in the reference library, 1e-300 likewise here.
FEW_ASPLS = dict(max_iter=3, tol=1e-300)
# iasls' squared weights of 1e-4 against its default lam = 1e6 leave systems with condition numbers near 1e11, whose
# exact solves differ by 1e-5 of the range: the dense comparison takes a smaller lam.
DENSE_DEFAULTS = {"aspls": FEW_ASPLS, "iasls": dict(lam=1e4)}


# Away from the second order psalsa's weights sink to 1e-28 under the bumps and iasls' systems are worse
# conditioned still: the floor and the rounding leave a few 1e-7 of the range there.
OTHER_ORDER_ATOL = {"psalsa": 1e-6, "iasls": 1e-6}


def other_orders(method):
    """The difference orders besides the default that a grid scheme takes: one for both axes, and a pair."""
    return [3, (2, 3)] if method in ("iasls", "drpls") else [1, (1, 3)]


def grid_default_lam(method):
    return next(p.default for p in quorvel.parameters.PARAMS_2D[method] if p.name == "lam")


def dense(data, method, lam, **params):
    params = {**params, "tol": 0.0} if params.get("tol") == 1e-300 else params
    if "alpha" in params:
        params = {**params, "alpha": params["alpha"].ravel()}
    return getattr(rules, method)(data.ravel(), lam=lam, shape=data.shape, **params)


# The systems floor every weight at 1e-8, which the dense solves do not: a few 1e-9 of the range apart.
@pytest.mark.parametrize("method, params", [
    *[(method, DENSE_DEFAULTS.get(method, {})) for method in SCHEMES],
    ("airpls", dict(lam=(1e4, 1e7), max_iter=3)), ("iarpls", dict(lam=3e3, tol=1e-2)),
    ("psalsa", dict(p=0.2, k=0.3, lam=(1e6, 1e3))), ("lsrpls", dict(lam=1e5, max_iter=5)),
    ("aspls", dict(asymmetric_coef=2.0, lam=(1e4, 1e6), **FEW_ASPLS)),
    ("aspls", dict(alpha=np.linspace(0.05, 1.0, SHAPE[0] * SHAPE[1]).reshape(SHAPE), **FEW_ASPLS)),
    ("brpls", dict(lam=1e5, max_iter_2=2, tol_2=0.1)),
    ("iasls", dict(lam=(1e3, 1e4), lam_1=(1e-2, 2.0), p=0.05)), ("drpls", dict(eta=0.8, lam=(1e4, 1e6))),
    *[(method, dict(DENSE_DEFAULTS.get(method, {}), diff_order=order)) for method in SCHEMES
      for order in other_orders(method)],
])
@pytest.mark.parametrize("solver", ["cg", "multigrid"])
def test_each_grid_scheme_matches_dense_solves(method, params, solver):
    data = surface(*SHAPE, seed=3)
    params = dict(params)
    lam = params.pop("lam", grid_default_lam(method))
    expected, _, iterations, *outer = dense(data, method, lam, **params)
    result = quorvel.fit_2d(data, method, lam=lam, solver=solver, **params, **TIGHT)
    assert (result.iterations, result.outer_iterations) == (iterations, *(outer or [0]))
    assert result.changes.size == iterations
    atol = OTHER_ORDER_ATOL.get(method, 1e-7) if "diff_order" in params else 1e-7
    np.testing.assert_allclose(result.baseline.ravel(), expected, rtol=0, atol=atol * np.ptp(data))


# The reference library returns brpls' fit before the newest, which lies within tol of it; iasls' defaults are
# ill-conditioned (see DENSE_DEFAULTS). Away from the second order the weights of psalsa and aspls fall far below
# the floor of 1e-8 (see OTHER_ORDER_ATOL). asls and arpls take the reference library's loop with
# lam given (their grid defaults differ).
@pytest.mark.parametrize("method, order", [(method, order) for method in ["asls", "arpls", *SCHEMES]
                                           for order in [2, *other_orders(method)]])
@pytest.mark.parametrize("seed", [0, 1])
def test_each_grid_scheme_agrees_with_the_reference_library(method, order, seed):
    pybaselines = pytest.importorskip("pybaselines")
    data = surface(*SHAPE, seed)
    given = dict(diff_order=order, **(dict(lam=1e4) if method in ("asls", "arpls") else {}))
    if method == "aspls":
        reference, details = pybaselines.Baseline2D().aspls(data, max_iter=3, tol=0.0, **given)
    else:
        exact = {} if method in ("iasls", "drpls") else dict(num_eigens=None)  # the two always solve exactly
        reference, details = getattr(pybaselines.Baseline2D(), method)(data, **exact, **given)
    result = quorvel.fit_2d(data, method, **(FEW_ASPLS if method == "aspls" else {}), **given, **TIGHT)
    history = details["tol_history"]
    if method == "brpls":
        counts = (np.count_nonzero(history[1:]), history.shape[0] - 1)
        assert (result.iterations, result.outer_iterations) == counts
    else:
        assert result.iterations == history.size
    atol = {"brpls": 3e-3, "iasls": 1e-5}.get(method, 1e-7 if order == 2 else 1e-6)
    np.testing.assert_allclose(result.baseline, reference, rtol=0, atol=atol * np.ptp(data))


# aspls multiplies a solve's error about tenfold with every reweighting (its tight fits part from the reference
# library's by 1e-5 of the range within six solves, by 1e-3 within nine), so its default solves are held to tight
# ones over the first four, on a grid that multigrid coarsens several times.
@pytest.mark.parametrize("seed", [0, 1])
def test_aspls_default_solves_follow_tight_ones(seed):
    pybaselines = pytest.importorskip("pybaselines")
    data = surface(40, 50, seed)
    default = quorvel.fit_2d(data, "aspls", **FEW_ASPLS)
    tight = quorvel.fit_2d(data, "aspls", **FEW_ASPLS, **TIGHT)
    reference, details = pybaselines.Baseline2D().aspls(data, max_iter=3, tol=0.0)
    assert default.iterations == tight.iterations == details["tol_history"].size
    np.testing.assert_allclose(default.baseline, tight.baseline, rtol=0, atol=1e-6 * np.ptp(data))
    np.testing.assert_allclose(tight.baseline, reference, rtol=0, atol=1e-7 * np.ptp(data))


@pytest.mark.parametrize("method", SCHEMES)
@pytest.mark.parametrize("solver", ["cg", "multigrid"])
def test_masked_points_change_no_bit(method, solver):
    data = surface(16, 40, seed=5)
    used = np.ones(data.shape, bool)
    used[3:6, 10:14] = used[0, 0] = used[-1, 7] = False
    params = dict(solver=solver, **(FEW_ASPLS if method == "aspls" else {}))
    first = quorvel.fit_2d(data, method, mask=used, **params)
    other = np.where(used, data, 1e6 * np.random.default_rng(1).standard_normal(data.shape))
    second = quorvel.fit_2d(other, method, mask=used, **params)
    assert bits(first.baseline) == bits(second.baseline) and bits(first.weights) == bits(second.weights)
    assert not first.weights[~used].any()


def test_the_default_k_is_a_tenth_of_the_used_data_spread():
    data = surface(18, 22, seed=2)
    used = np.ones(data.shape, bool)
    used[5:9, 4:10] = False
    k = np.std(data[used]) / 10
    np.testing.assert_allclose(quorvel.baseline_2d(data, "psalsa", mask=used),
                               quorvel.baseline_2d(data, "psalsa", mask=used, k=k), rtol=1e-9)
