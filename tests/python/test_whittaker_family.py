"""The Whittaker schemes against dense transcriptions of their publications and against the reference library."""
import numpy as np
import pytest

import quorvel
import whittaker_rules as rules
from support import bits, make_spectrum, spectrum

SCHEMES = ["iasls", "drpls", "iarpls", "aspls", "psalsa", "derpsalsa", "brpls", "lsrpls"]


# iasls' squared weights (1e-4 above the baseline) leave its systems with condition numbers near 1e11 at
# lam = 1e6, and aspls' reweighting amplifies rounding chaotically, so those run where the two solves
# must agree; everything else at the reference library's defaults and beside them.
DENSE = [("iasls", dict(lam=1e4)), ("iasls", dict(lam=1e3, p=0.05, lam_1=1e-2, diff_order=3)),
         ("drpls", {}), ("drpls", dict(eta=0.3, lam=1e6, diff_order=3)),
         ("iarpls", {}), ("iarpls", dict(lam=1e3, diff_order=1)),
         ("aspls", dict(max_iter=5, tol=0.0)), ("aspls", dict(max_iter=3, tol=0.0, asymmetric_coef=2.0, diff_order=1)),
         ("aspls", dict(max_iter=3, tol=0.0, alpha=np.linspace(0.05, 1.0, 400))),
         ("psalsa", {}), ("psalsa", dict(k=0.5, lam=1e6, diff_order=3)),
         ("derpsalsa", {}), ("derpsalsa", dict(smooth_half_window=6, num_smooths=3, k=1.0)),
         ("brpls", {}), ("brpls", dict(lam=1e6, max_iter_2=3)),
         ("lsrpls", {}), ("lsrpls", dict(lam=1e3, diff_order=1))]


@pytest.mark.parametrize("method, params", DENSE)
@pytest.mark.parametrize("seed", [0, 1])
def test_each_scheme_follows_its_publication(method, params, seed):
    y = spectrum(400, seed)
    expected, _, iterations, *outer = getattr(rules, method)(y, **params)
    result = quorvel.fit(y, method, **params)
    assert (result.iterations, result.outer_iterations) == (iterations, *(outer or [0]))
    np.testing.assert_allclose(result.baseline, expected, rtol=0, atol=3e-8 * np.ptp(y))


# pybaselines returns the brpls fit before the newest (within tol of it) and cannot reproduce its own aspls to
# better than about 1e-4 of the range: y perturbed by 1e-13 moves it that far and its count by one.
# derpsalsa's screen takes second differences of the smoothed data, which magnify the rounding of the
# smoothing (transforms here, the reference library's convolution there): 3e-8 to 3e-7 of the range at
# 10^4 samples, depending on the NumPy and SciPy under the reference library.
AGREEMENT = {"aspls": 1e-3, "brpls": 3e-3, "derpsalsa": 1e-6}


@pytest.mark.parametrize("method", SCHEMES)
@pytest.mark.parametrize("n", [1000, 10_000])
def test_each_scheme_agrees_with_the_reference_library(method, n):
    pybaselines = pytest.importorskip("pybaselines")
    y = spectrum(n, 3)
    params = dict(lam=1e4) if method == "iasls" else {}
    reference, details = getattr(pybaselines.Baseline(), method)(y, **params)
    result = quorvel.fit(y, method, **params)
    history = details["tol_history"]
    if method == "brpls":
        assert (result.iterations, result.outer_iterations) == (np.count_nonzero(history[1:]), history.shape[0] - 1)
    elif method != "aspls":
        assert result.iterations == history.size
    np.testing.assert_allclose(result.baseline, reference, rtol=0, atol=AGREEMENT.get(method, 1e-7) * np.ptp(y))


# Every threshold of these rules is relative to the data (the first three floor a few at 2^-52).
@pytest.mark.parametrize("method", SCHEMES)
@pytest.mark.parametrize("scale", [1e-100, 1e100])
def test_every_scheme_is_unchanged_by_the_data_scale(method, scale):
    y = make_spectrum(300)
    params = {"iasls": dict(lam=1e4), "aspls": dict(max_iter=5, tol=0.0)}.get(method, {})
    np.testing.assert_allclose(quorvel.baseline(y * scale, method, **params) / scale,
                               quorvel.baseline(y, method, **params), rtol=1e-9, atol=0)


# e^t passes the largest double at t = 710 and 10^t at t = 309; the weights must not.
@pytest.mark.parametrize("method", ["drpls", "iarpls", "lsrpls"])
def test_weights_that_steepen_every_iteration_stay_finite_for_ever(method):
    y = make_spectrum(120)
    result = quorvel.fit(y, method, max_iter=800, tol=0.0)
    assert result.iterations == 801 and not result.converged
    assert np.isfinite(result.baseline).all() and np.isfinite(result.weights).all()


def test_weights_whose_peak_share_is_tiny_or_huge_stay_finite():
    y = make_spectrum(300)
    y[100] -= 1e4  # a residual 1e5 noise deviations below: the exponential of its square would overflow
    result = quorvel.fit(y, "brpls")
    assert np.isfinite(result.baseline).all() and ((result.weights >= 0) & (result.weights <= 1)).all()


@pytest.mark.parametrize("method", ["asls", "arpls", "airpls"] + SCHEMES)
@pytest.mark.parametrize("diff_order", [1, 3])
def test_batches_give_each_spectrum_its_own_fit(method, diff_order):
    if method in ("iasls", "drpls") and diff_order == 1:
        diff_order = 2
    stack = np.stack([spectrum(150, seed) for seed in range(5)])
    params = dict(diff_order=diff_order)
    assert bits(quorvel.correct_many(stack, method, **params)) == bits(
        np.stack([quorvel.correct(row, method, **params) for row in stack]))


@pytest.mark.parametrize("method, diff_order", [("iasls", 1), ("drpls", 1), ("asls", 4), ("arpls", 0)])
def test_difference_orders_out_of_range_are_refused(method, diff_order):
    with pytest.raises(ValueError, match="diff_order must be an integer from"):
        quorvel.fit(make_spectrum(50), method, diff_order=diff_order)


def test_the_default_k_is_a_tenth_of_the_used_data_spread():
    y = make_spectrum(300)
    used = np.ones(y.size, bool)
    used[40:60] = False
    k = np.std(y[used]) / 10
    for method in ("psalsa", "derpsalsa"):
        np.testing.assert_allclose(quorvel.baseline(y, method, mask=used), quorvel.baseline(y, method, mask=used, k=k),
                                   rtol=1e-9)
        assert bits(quorvel.baseline(y, method)) == bits(quorvel.baseline(y, method, k=None))


# alpha sets the first iteration's penalty scales alone; a masked sample keeps the full penalty throughout.
@pytest.mark.parametrize("ndim", [1, 2])
def test_aspls_alpha_sets_the_first_penalty_scales_of_the_used_samples(ndim):
    shape = (300,) if ndim == 1 else (15, 20)
    items = [spectrum(300, seed).reshape(shape) for seed in range(4)]
    fit, many = (quorvel.baseline, quorvel.baseline_many) if ndim == 1 else (quorvel.baseline_2d,
                                                                            quorvel.baseline_2d_many)
    used = np.ones(shape, bool)
    used.flat[100:120] = False
    alpha = np.linspace(0.05, 1.0, 300).reshape(shape)
    assert bits(fit(items[0], "aspls", alpha=np.ones(shape))) == bits(fit(items[0], "aspls"))
    assert bits(fit(items[0], "aspls", alpha=alpha)) != bits(fit(items[0], "aspls"))
    elsewhere = np.where(used, alpha, 0.0)
    assert bits(fit(items[0], "aspls", mask=used, alpha=alpha)) == bits(fit(items[0], "aspls", mask=used,
                                                                              alpha=elsewhere))
    assert bits(many(np.stack(items), "aspls", alpha=alpha)) == bits(np.stack([fit(item, "aspls", alpha=alpha)
                                                                              for item in items]))


@pytest.mark.parametrize("alpha, error, message", [
    (np.ones(299), ValueError, r"alpha must have the data's shape \(300,\); got shape \(299,\)"),
    (np.ones((300, 1)), ValueError, r"alpha must have the data's shape \(300,\); got shape \(300, 1\)"),
    (np.r_[np.ones(250), -1e-300, np.ones(49)], ValueError,
     "alpha must be finite and at least 0 at every sample; got -1e-300 at sample 250"),
    (np.r_[np.ones(299), np.inf], ValueError, "got inf at sample 299"),
    ("ones", TypeError, "alpha must be None or an array of real numbers, not str"),
])
def test_aspls_alpha_out_of_range_is_refused(alpha, error, message):
    with pytest.raises(error, match=message):
        quorvel.fit(spectrum(300, 0), "aspls", alpha=alpha)


# arpls' weights vanish at two of these three samples, which leaves a straight line free under its penalty.
@pytest.mark.parametrize("front", [lambda y: quorvel.correct(y, "arpls"), lambda y: quorvel.fit(y, "arpls"),
                                   lambda y: quorvel.correct_many(np.stack([y, y]), "arpls"),
                                   lambda y: quorvel.baseline(y, "arpls", max_iter=50)])
def test_a_solve_left_singular_by_the_weights_says_why_and_what_to_change(front):
    y = np.array([1.2348916091223985, 3.1275401083280325, -0.3856039888321028])
    with pytest.raises(ValueError, match=r"arpls could not fit this input: linear solve failed: .* too few samples "
                                         r"to pin down the baseline, which happens on very short inputs; give it more"):
        front(y)
    with pytest.raises(ValueError, match="input length 2 is too short for arpls; minimum is 3"):
        front(y[:2])
