"""Grid Whittaker fits on uneven x (one per row) and z (one per column): each axis' penalty takes Eilers' divided
differences (Anal. Chem. 75 (2003) 3631) of its positions, joined in the Kronecker sum of the two axes."""
import numpy as np
import pytest

import quorvel
import whittaker_rules as rules
from support import bits
from test_grid_schemes import FEW_ASPLS, SCHEMES
from test_references import surface
from test_uneven_whittaker import ddmat, unit_steps

METHODS = ["asls", "arpls", *SCHEMES]
# Positions by axis length: the dense transcriptions ask for an axis' penalty by its length alone.
POSITIONS = {14: np.linspace(0.0, 1.0, 14) ** 1.3 * 50.0 + 3.0, 17: -np.cumsum(np.linspace(1.0, 3.0, 17)),
             13: np.geomspace(1.0, 8.0, 13), 41: np.linspace(0.0, 1.0, 41) ** 0.8}
# Up to 512 points "cg" solves directly; 13 x 41 goes to plain conjugate gradients.
SOLVERS = {"direct": ((14, 17), dict(solver="cg")), "cg": ((13, 41), dict(solver="cg", cg_max_iter=10000)),
           "multigrid": ((14, 17), dict(solver="multigrid"))}
TIGHT = dict(cg_tol=1e-13)


def axes(shape):
    return POSITIONS[shape[0]], POSITIONS[shape[1]]


def on_positions(monkeypatch):
    """The transcriptions' penalties on the positions in units of their mean step, and iasls' start on them."""
    monkeypatch.setattr(rules, "penalty", lambda n, order: ddmat(unit_steps(POSITIONS[n]), order).T
                        @ ddmat(unit_steps(POSITIONS[n]), order))

    def quadratic(y, shape):
        points = [c.ravel() for c in np.meshgrid(*(2 * (x - x.min()) / np.ptp(x) - 1 for x in axes(shape)),
                                                 indexing="ij")]
        terms = np.stack([points[0] ** a * points[1] ** b for a, b in np.ndindex(3, 3)], axis=1)
        return terms @ np.linalg.lstsq(terms, y, rcond=None)[0]
    monkeypatch.setattr(rules, "_quadratic", quadratic)
    # The grid systems floor every weight at 1e-8, which airpls' zeros and brpls' 1e-68 reach.
    monkeypatch.setattr(rules, "_fit", lambda w, y, lhs: np.linalg.solve(np.diag(np.fmax(w, 1e-8)) + lhs,
                                                                         np.fmax(w, 1e-8) * y))


DENSE = {"aspls": dict(lam=1e3, **FEW_ASPLS), "iasls": dict(lam=1e2, lam_1=0.1), "drpls": dict(lam=1e3, eta=0.3),
         "brpls": dict(lam=1e3, max_iter_2=3)}


# Plain conjugate gradients leave aspls' scaled systems short of cg_tol on even grids as well.
@pytest.mark.parametrize("method, solver", [(method, solver) for method in SCHEMES for solver in SOLVERS
                                            if (method, solver) != ("aspls", "cg")])
def test_each_scheme_solves_the_divided_difference_system(monkeypatch, method, solver):
    shape, given = SOLVERS[solver]
    data = surface(*shape, seed=3)
    x, z = axes(shape)
    params = DENSE.get(method, dict(lam=1e3))
    result = quorvel.fit_2d(data, method, x=x, z=z, **params, **given, **TIGHT)
    on_positions(monkeypatch)
    params = {**params, "tol": 0.0} if params.get("tol") == 1e-300 else params
    expected, _, iterations, *outer = getattr(rules, method)(data.ravel(), shape=shape, **params)
    assert (result.iterations, result.outer_iterations) == (iterations, *(outer or [0]))
    np.testing.assert_allclose(result.baseline.ravel(), expected, rtol=0, atol=1e-9 * np.ptp(data))


# A fit stopped after `solves` reports the weights of the next solve.
@pytest.mark.parametrize("method", ["asls", "arpls"])
@pytest.mark.parametrize("solver", SOLVERS)
@pytest.mark.parametrize("order", [1, 2, 3])
@pytest.mark.parametrize("masked", [False, True])
def test_asls_and_arpls_solve_the_divided_difference_system(method, solver, order, masked):
    shape, given = SOLVERS[solver]
    data = surface(*shape, seed=4)
    x, z = axes(shape)
    used = np.ones(shape, bool)
    if masked:
        used[4:8, 5:9] = False
    params = dict(x=x, z=z, lam=1e2 if order == 3 else 1e3, diff_order=order, tol=1e-300, mask=used, **given, **TIGHT)
    weights = np.where(used.ravel(), np.fmax(quorvel.fit_2d(data, method, max_iter=2, **params).weights.ravel(), 1e-8),
                       0.0)
    fitted = quorvel.fit_2d(data, method, max_iter=3, **params).baseline
    penalties = [params["lam"] * ddmat(unit_steps(p), order).T @ ddmat(unit_steps(p), order) for p in (x, z)]
    system = np.diag(weights) + np.kron(penalties[0], np.eye(shape[1])) + np.kron(np.eye(shape[0]), penalties[1])
    expected = np.linalg.solve(system, weights * data.ravel())
    np.testing.assert_allclose(fitted.ravel(), expected, rtol=0, atol=1e-9 * np.ptp(data))


# Steps spanning a factor of 100 on both axes, or beside an even axis: multigrid's line smoothing meets cg_tol in a
# few dozen steps where point smoothing took thousands (orders 2 and 3). Smoothing weights that leave the dense solve
# some digits: the penalties of the shortest steps outweigh those of the longest by 10^(4 order).
SPREAD = np.logspace(0.0, 2.0, 30)
SPREAD_LAM = {1: 1e3, 2: 10.0, 3: 0.01}


@pytest.mark.parametrize("order", [1, 2, 3])
@pytest.mark.parametrize("even_x", [False, True])
def test_multigrid_solves_steps_a_hundred_times_apart(order, even_x):
    shape = (30, 27)
    data = surface(*shape, seed=8)
    x, z = (np.arange(30.0) if even_x else SPREAD), SPREAD[:27]
    params = dict(x=x, z=z, lam=SPREAD_LAM[order], diff_order=order, tol=1e-300, solver="multigrid",
                  cg_tol=1e-12, cg_max_iter=80)
    weights = np.fmax(quorvel.fit_2d(data, "asls", max_iter=1, **params).weights.ravel(), 1e-8)
    fitted = quorvel.fit_2d(data, "asls", max_iter=2, **params)
    penalties = [params["lam"] * ddmat(unit_steps(p), order).T @ ddmat(unit_steps(p), order) for p in (x, z)]
    system = np.diag(weights) + np.kron(penalties[0], np.eye(shape[1])) + np.kron(np.eye(shape[0]), penalties[1])
    assert fitted.short_solves == 0
    np.testing.assert_allclose(fitted.baseline.ravel(), np.linalg.solve(system, weights * data.ravel()), rtol=0,
                               atol=1e-9 * np.ptp(data))


# np.linspace, a decreasing axis and positions read back with three decimals all count as even.
EVEN = {14: [np.linspace(-2.0, 5.0, 14), np.round(np.linspace(900.0, 400.0, 14), 3)],
        41: [np.linspace(1e6, 1e6 + 1.0, 41), np.arange(41.0)]}


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("solver", ["cg", "multigrid"])
@pytest.mark.parametrize("order", [2, 3])
def test_even_positions_keep_every_bit(method, solver, order):
    data = surface(14, 41, seed=6)
    params = dict(solver=solver, diff_order=order, **(FEW_ASPLS if method == "aspls" else {}))
    plain = bits(quorvel.baseline_2d(data, method, **params))
    for x, z in zip(EVEN[14], EVEN[41]):
        for given in (dict(x=x), dict(z=z), dict(x=x, z=z)):
            assert bits(quorvel.baseline_2d(data, method, **given, **params)) == plain
    # One uneven axis beside an even one is the same fit as beside none.
    uneven = POSITIONS[14]
    assert bits(quorvel.baseline_2d(data, method, x=uneven, z=EVEN[41][0], **params)) == bits(
        quorvel.baseline_2d(data, method, x=uneven, **params))


def sampled(u, v):
    """A smooth background and three peaks over the fractions u (rows) and v (columns) of the ranges."""
    a, b = np.meshgrid(u, v, indexing="ij")
    background = 10.0 + 6.0 * a - 4.0 * a ** 2 + 3.0 * np.sin(3.0 * b) + 2.0 * a * b
    peaks = sum(h * np.exp(-0.5 * (((a - c) / 0.03) ** 2 + ((b - d) / 0.03) ** 2))
                for h, c, d in [(20.0, 0.3, 0.2), (12.0, 0.6, 0.7), (30.0, 0.85, 0.4)])
    return background, background + peaks


def interpolated(u_even, v_even, values, u, v):
    along_rows = np.stack([np.interp(u, u_even, column) for column in values.T], axis=1)
    return np.stack([np.interp(v, v_even, row) for row in along_rows])


@pytest.mark.parametrize("method", ["asls", "arpls"])
def test_an_unevenly_sampled_surface_gets_the_baseline_of_the_even_one(method):
    u_even, v_even = np.linspace(0.0, 1.0, 90), np.linspace(0.0, 1.0, 110)
    u, v = u_even ** 1.4, 1.0 - (1.0 - v_even) ** 1.4
    truth, data = sampled(u, v)
    params = dict(lam=1e3, solver="multigrid")
    expected = interpolated(u_even, v_even, quorvel.baseline_2d(sampled(u_even, v_even)[1], method, **params), u, v)
    honoured = np.abs(quorvel.baseline_2d(data, method, x=u, z=v, **params) - expected).max()
    ignored = np.abs(quorvel.baseline_2d(data, method, **params) - expected).max()
    assert honoured < 0.015 * np.ptp(truth) and ignored > 4 * honoured


@pytest.mark.parametrize("method", METHODS)
def test_masked_points_take_no_part_but_keep_their_positions(method):
    data = surface(14, 41, seed=7)
    x, z = POSITIONS[14], POSITIONS[41]
    used = np.ones(data.shape, bool)
    used[3:7, 10:16] = False
    params = dict(x=x, z=z, mask=used, solver="multigrid", **(FEW_ASPLS if method == "aspls" else {}))
    fitted = quorvel.baseline_2d(data, method, **params)
    assert bits(quorvel.baseline_2d(np.where(used, data, -1e3), method, **params)) == bits(fitted)
    assert not np.allclose(fitted, quorvel.baseline_2d(data, method, **params | dict(x=None, z=None)))


@pytest.mark.parametrize("axis, positions, message", [
    ("x", np.r_[np.arange(13.0), 1e300], "x: must not have steps so unequal that the penalty overflows"),
    ("z", np.r_[5e-324 * np.arange(16.0), 1e300], "z: must have steps that stay apart in units of their mean"),
])
def test_steps_the_penalty_cannot_divide_by_are_refused(axis, positions, message):
    with pytest.raises(ValueError, match=message):
        quorvel.baseline_2d(surface(14, 17), "arpls", **{axis: positions})
