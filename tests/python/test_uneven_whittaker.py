"""Whittaker fits on unevenly spaced x: the penalty of Eilers' divided differences (Anal. Chem. 75 (2003) 3631)."""
import numpy as np
import pytest

import quorvel
import whittaker_rules as rules
from support import bits, spectrum
from test_whittaker_family import SCHEMES

METHODS = ["asls", "arpls", "airpls"] + SCHEMES
N = 400
UNEVEN = {"power": np.linspace(0.0, 1.0, N) ** 1.3 * 900.0 + 100.0,
          "decreasing": 4000.0 - 3000.0 * np.linspace(0.0, 1.0, N) ** 0.7,
          "jittered": np.arange(N) + np.random.default_rng(5).uniform(-0.4, 0.4, N)}


def ddmat(t, order):
    """Eilers' ddmat, D_d = V_d diff(D_{d-1}), with V_d = diag(d / (t[i + d] - t[i])): the plain difference on unit
    steps."""
    d = np.eye(t.size)
    for k in range(1, order + 1):
        d = (k / (t[k:] - t[:-k]))[:, None] * np.diff(d, axis=0)
    return d


def unit_steps(x):
    return (x - x[0]) * (x.size - 1) / (x[-1] - x[0])


def on_positions(monkeypatch, x):
    """The transcriptions' penalties on x in units of its mean step, and iasls' quadratic start on x."""
    t = unit_steps(x)
    monkeypatch.setattr(rules, "penalty", lambda n, order: ddmat(t, order).T @ ddmat(t, order))
    u = 2 * (x - x.min()) / np.ptp(x) - 1
    terms = np.stack([np.ones_like(u), u, u * u], axis=1)
    monkeypatch.setattr(rules, "_quadratic", lambda y, shape: terms @ np.linalg.lstsq(terms, y, rcond=None)[0])


# Smaller lambdas than the defaults keep the dense solves' own rounding below the tolerance: steps of 0.2 to 1.3
# times their mean make these systems worse conditioned than on the index.
DENSE = [("iasls", dict(lam=1e3)), ("iasls", dict(lam=1e2, p=0.05, lam_1=1e-2, diff_order=3)),
         ("drpls", dict(lam=1e3)), ("drpls", dict(eta=0.3, lam=1e2, diff_order=3)),
         ("iarpls", dict(lam=1e3)), ("iarpls", dict(lam=1e2, diff_order=1)),
         ("aspls", dict(lam=1e3, max_iter=3, tol=0.0)),
         ("aspls", dict(lam=1e2, max_iter=3, tol=0.0, asymmetric_coef=2.0, diff_order=1)),
         ("aspls", dict(lam=1e3, max_iter=2, tol=0.0, alpha=np.linspace(0.05, 1.0, N))),
         ("psalsa", dict(lam=1e3)), ("psalsa", dict(k=0.5, lam=1e2, diff_order=3)),
         ("derpsalsa", dict(lam=1e3)), ("derpsalsa", dict(lam=1e3, smooth_half_window=6, num_smooths=3, k=1.0)),
         ("brpls", dict(lam=1e3)), ("brpls", dict(lam=1e4, max_iter_2=3)),
         ("lsrpls", dict(lam=1e3)), ("lsrpls", dict(lam=1e2, diff_order=1))]


@pytest.mark.parametrize("method, params", DENSE)
@pytest.mark.parametrize("positions", ["power", "decreasing"])
def test_each_scheme_solves_the_divided_difference_system(monkeypatch, method, params, positions):
    x, y = UNEVEN[positions], spectrum(N, 2)
    on_positions(monkeypatch, x)
    expected, _, iterations, *outer = getattr(rules, method)(y, **params)
    result = quorvel.fit(y, method, x=x, **params)
    assert (result.iterations, result.outer_iterations) == (iterations, *(outer or [0]))
    np.testing.assert_allclose(result.baseline, expected, rtol=0, atol=1e-9 * np.ptp(y))


# The first three rules' weights, read from a fit stopped after `solves`, are those of the next solve.
@pytest.mark.parametrize("method, params", [("asls", dict(lam=1e3)), ("asls", dict(diff_order=1, p=0.05, lam=1e2)),
                                            ("arpls", dict(lam=1e3)), ("arpls", dict(diff_order=3, lam=1e2)),
                                            ("airpls", dict(lam=1e3)), ("airpls", dict(diff_order=1, lam=1e2))])
@pytest.mark.parametrize("positions, solves", [("power", 1), ("decreasing", 4)])
def test_the_first_three_solve_the_divided_difference_system(method, params, positions, solves):
    x, y = UNEVEN[positions], spectrum(N, 2)
    d = ddmat(unit_steps(x), params.get("diff_order", 2))
    weights = quorvel.fit(y, method, x=x, max_iter=solves, tol=0.0, **params).weights
    fitted = quorvel.fit(y, method, x=x, max_iter=solves + 1, tol=0.0, **params).baseline
    expected = np.linalg.solve(np.diag(weights) + params["lam"] * d.T @ d, weights * y)
    np.testing.assert_allclose(fitted, expected, rtol=0, atol=1e-9 * np.ptp(y))


# Positions read back from a file with three decimals count as even too.
EVEN = [np.arange(N, dtype=float), np.linspace(4000.0, 400.0, N), np.linspace(1e6, 1e6 + 1.0, N),
        np.round(np.linspace(4000.0, 400.0, N), 3)]


# iasls and drpls take diff_order 2 or 3: their own penalty takes the first differences.
@pytest.mark.parametrize("method, diff_order", [(method, order) for method in METHODS for order in (1, 2, 3)
                                                if order > 1 or method not in ("iasls", "drpls")])
def test_evenly_spaced_x_keeps_every_bit(method, diff_order):
    y = spectrum(N, 4)
    stack = np.stack([y, spectrum(N, 5)])
    params = dict(diff_order=diff_order, lam=1e4)
    plain, many = bits(quorvel.baseline(y, method, **params)), bits(quorvel.baseline_many(stack, method, **params))
    for x in EVEN:
        assert bits(quorvel.baseline(y, method, x=x, **params)) == plain
        assert bits(quorvel.baseline_many(stack, method, x=x, **params)) == many


def resampled(u):
    """A smooth background and three peaks at the fractions u of the range."""
    background = 20.0 + 15.0 * u - 10.0 * u ** 2 + 4.0 * np.sin(3.0 * u)
    peaks = sum(h * np.exp(-0.5 * ((u - c) / 0.006) ** 2) for h, c in [(40.0, 0.2), (25.0, 0.45), (60.0, 0.8)])
    return background, background + peaks


@pytest.mark.parametrize("method", ["asls", "arpls", "iarpls", "psalsa"])
def test_an_unevenly_sampled_spectrum_gets_the_baseline_of_the_even_one(method):
    u_even, u = np.linspace(0.0, 1.0, 1500), np.linspace(0.0, 1.0, 1500) ** 1.6
    _, y_even = resampled(u_even)
    truth, y = resampled(u)
    expected = np.interp(u, u_even, quorvel.baseline(y_even, method, lam=1e6))
    honoured = np.abs(quorvel.baseline(y, method, x=u, lam=1e6) - expected).max()
    ignored = np.abs(quorvel.baseline(y, method, lam=1e6) - expected).max()
    assert honoured < 0.01 * np.ptp(truth) and ignored > 4 * honoured


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("masked", [False, True])
def test_batches_on_uneven_x_give_each_spectrum_its_own_fit(method, masked):
    x, stack = UNEVEN["jittered"], np.stack([spectrum(N, seed) for seed in range(5)])
    mask = np.ones(stack.shape, bool)
    if masked:
        mask[:, 150:190] = False
    diff_order = 3 if method in ("asls", "iarpls") else 2
    single = np.stack([quorvel.baseline(row, method, x=x, mask=used, diff_order=diff_order)
                       for row, used in zip(stack, mask)])
    assert bits(quorvel.baseline_many(stack, method, x=x, mask=mask, diff_order=diff_order)) == bits(single)


@pytest.mark.parametrize("method", METHODS)
def test_masked_samples_take_no_part_but_keep_their_positions(method):
    x, y = UNEVEN["power"], spectrum(N, 6)
    used = np.ones(N, bool)
    used[200:240] = False
    fitted = quorvel.baseline(y, method, x=x, mask=used)
    assert bits(quorvel.baseline(np.where(used, y, -1e3), method, x=x, mask=used)) == bits(fitted)
    # Dropping the masked samples would close the gap in the positions' units: the penalty must still see it.
    kept = quorvel.baseline(y[used], method, x=x[used])
    assert not np.allclose(fitted[used], kept, rtol=0, atol=1e-6 * np.ptp(y))


@pytest.mark.parametrize("x, message", [
    (np.r_[5e-324 * np.arange(N - 1.0), 1e300], "x: must have steps that stay apart in units of their mean"),
    (np.r_[np.arange(N - 1.0), 1e300], "x: must not have steps so unequal that the penalty overflows"),
])
def test_steps_the_penalty_cannot_divide_by_are_refused(x, message):
    with pytest.raises(ValueError, match=message):
        quorvel.baseline(spectrum(N, 0), "arpls", x=x)


@pytest.mark.parametrize("call", [quorvel.baseline, lambda y, *args, **kw: quorvel.baseline_many(y[None], *args, **kw)])
def test_a_solve_stiff_steps_break_says_so_rather_than_blaming_few_samples(call):
    u = np.linspace(0.0, 1.0, 2000)
    with pytest.raises(ValueError, match="steps differ by orders of magnitude .* lower lam"):
        call(spectrum(2000, 0), "arpls", x=1000.0 * u**2 + 1e-3 * u, lam=1e9)
