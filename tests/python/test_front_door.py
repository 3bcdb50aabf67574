"""The package-level functions: keyword parameters, masks, array-likes and fit reports."""
import numpy as np
import pytest

import quorvel
from quorvel import _native
from support import HINT, METHODS, METHODS_2D, NATIVE_METHODS, NATIVE_METHODS_2D, bits, check_raises, make_spectrum

Y = make_spectrum(120)
IMAGE = np.add.outer(np.linspace(0, 1, 9), np.linspace(0, 2, 11)) + np.random.default_rng(5).random((9, 11))
DEFAULTS_1D = {"asls": dict(lam=1e6, p=0.01, max_iter=50, tol=1e-3), "arpls": dict(lam=1e6, max_iter=50, tol=1e-3),
               "airpls": dict(lam=1e6, max_iter=50, tol=1e-3, stop="weights"), "rolling_ball": dict(half_window=15),
               "polynomial": dict(poly_order=2)}
DEFAULTS_2D = {"asls": dict(lam=1e4, p=0.01, max_iter=50, tol=1e-3, cg_tol=1e-6, cg_max_iter=500),
               "arpls": dict(lam=(1e4, 1e4), max_iter=50, tol=1e-3, cg_tol=1e-6, cg_max_iter=500),
               "rolling_ball": dict(half_window=(3, 3)), "polynomial": dict(poly_order=2)}


FUNCTIONS = {
    1: (Y, DEFAULTS_1D, quorvel.baseline, quorvel.correct, quorvel.fit, quorvel.correct_many, _native.baseline,
        _native.correct),
    2: (IMAGE, DEFAULTS_2D, quorvel.baseline_2d, quorvel.correct_2d, quorvel.fit_2d, quorvel.correct_2d_many,
        _native.baseline_2d, _native.correct_2d),
}


@pytest.mark.parametrize("ndim, method", [(1, m) for m in NATIVE_METHODS] + [(2, m) for m in NATIVE_METHODS_2D])
def test_omitted_and_explicit_defaults_give_the_native_bits(ndim, method):
    data, defaults, baseline, correct, fit, many, native_baseline, native_correct = FUNCTIONS[ndim]
    base, flat, explicit = native_baseline(data, method), native_correct(data, method), defaults[method]
    result = fit(data, method, **explicit)
    assert bits(baseline(data, method)) == bits(baseline(data, method, **explicit)) == bits(base)
    assert bits(correct(data, method, **explicit)) == bits(result.corrected) == bits(flat)
    assert bits(baseline(data, method, mask=np.ones(data.shape, bool))) == bits(result.baseline) == bits(base)
    assert bits(many(np.stack([data, data]), method, **explicit)) == bits(np.stack([flat, flat]))


@pytest.mark.parametrize("method", ["arpls", "rolling_ball", "polynomial"])
def test_large_inputs_take_the_tunable_path_with_the_native_bits(method):
    y = np.tile(Y, 640)
    image = y[: 256 * 300].reshape(256, 300)
    assert bits(quorvel.correct(y, method)) == bits(_native.correct(y, method))
    assert bits(quorvel.baseline_2d(image, method)) == bits(_native.baseline_2d(image, method))


@pytest.mark.parametrize("ndim, method", [(1, m) for m in METHODS] + [(2, m) for m in METHODS_2D])
def test_masked_values_never_change_the_fit(ndim, method):
    data = Y.copy() if ndim == 1 else np.tile(IMAGE, (3, 3))  # room for the grid splines' 25 knots an axis
    used = np.random.default_rng(3).random(data.shape) > 0.15
    fit = quorvel.fit if ndim == 1 else quorvel.fit_2d
    first = fit(data, method, mask=used)
    for value in (np.nan, -np.inf, 1e300):
        data[~used] = value
        again = fit(data, method, mask=used)
        assert bits(again.baseline) == bits(first.baseline)
        assert np.array_equal(again.corrected[used], first.corrected[used])


def test_airpls_residual_stop_settles_long_before_the_weight_rule():
    for y in [make_spectrum(400, seed) for seed in range(3)]:
        by_weights, by_residuals = quorvel.fit(y, "airpls"), quorvel.fit(y, "airpls", stop="residuals")
        assert by_residuals.converged and by_residuals.iterations < by_weights.iterations / 5
        negative = np.clip(y - by_residuals.baseline, None, 0)
        share = np.abs(negative).sum() / np.abs(y).sum()
        assert by_residuals.last_change == pytest.approx(share) and share <= 1e-3


@pytest.mark.parametrize("convert", [list, lambda y: y.astype(np.float32), lambda y: y.astype(">f8"),
                                     lambda y: np.round(y * 100).astype(np.int64), np.asfortranarray])
def test_array_likes_are_converted_to_float64(convert):
    pd = pytest.importorskip("pandas")
    data = convert(Y)
    expected = _native.correct(np.asarray(data, dtype=np.float64), "arpls")
    assert bits(quorvel.correct(data, "arpls")) == bits(quorvel.correct(data, "arpls", lam=1e6)) == bits(expected)
    assert bits(quorvel.correct(pd.Series(np.asarray(data, float)), "arpls")) == bits(expected)


@pytest.mark.parametrize("call, error, message", [
    (lambda: quorvel.correct(IMAGE), ValueError,
     "y must be one-dimensional (a spectrum); got ndarray of dtype float64 and shape (9, 11)"),
    (lambda: quorvel.baseline_2d([1.0, 2.0]), ValueError, "data must be two-dimensional (an image); got list of length 2"),
    (lambda: quorvel.correct(Y + 1j), TypeError, "y must hold real numbers; got ndarray of dtype complex128 and shape (120,)"),
    (lambda: quorvel.correct(Y, "arpls", p=0.1), TypeError, "arpls takes no parameter 'p'; its parameters are lam, max_iter, tol, diff_order"),
    (lambda: quorvel.correct(Y, lam="big"), TypeError, "lam must be a real number, not str"),
    (lambda: quorvel.correct(Y, max_iter=5.0), TypeError, "max_iter must be an integer, not float"),
    (lambda: quorvel.correct(Y, 7), TypeError, "method must be a str, not int"),
    (lambda: quorvel.correct(Y, lam=0), ValueError, "lam must be finite and greater than 0; got 0"),
    (lambda: quorvel.correct(Y, p=1.0), ValueError, "p must be strictly between 0 and 1; got 1.0"),
    (lambda: quorvel.correct(Y, max_iter=10**12), ValueError, "max_iter must be an integer from 1 to 10000; got 1000000000000"),
    (lambda: quorvel.correct(Y, "rolling_ball", half_window=0), ValueError, "half_window must be an integer of at least 1; got 0"),
    (lambda: quorvel.correct(Y, "rolling_ball", half_window=500), ValueError,
     "half_window must be an integer from 1 to 119 for data of shape (120,); got 500"),
    (lambda: quorvel.correct(Y, "poly", poly_order=21), ValueError, "poly_order must be an integer from 0 to 20; got 21"),
    (lambda: quorvel.correct(Y[:4], "poly", poly_order=4), ValueError, "poly_order 4 needs at least 5 used samples; the data has 4"),
    (lambda: quorvel.correct_2d(IMAGE, lam=(1.0, 2.0, 3.0)), ValueError,
     "lam must be one value or a pair (axis 0, axis 1); got (1.0, 2.0, 3.0)"),
    (lambda: quorvel.correct(Y, "airpls", stop="never"), ValueError, "stop must be 'weights' or 'residuals'; got 'never'"),
    (lambda: quorvel.correct(Y, mask=np.ones(Y.size)), TypeError, None),
    (lambda: quorvel.correct(Y, mask=np.arange(Y.size) == 3), ValueError, "mask leaves 1 of 120 samples; asls needs at least 2"),
    (lambda: quorvel.correct(np.r_[Y[:5], np.nan]), ValueError, "input contains a non-finite value at index 5" + HINT),
    (lambda: quorvel.fit_2d(np.where(IMAGE > 1.9, np.nan, IMAGE)), ValueError,
     f"input contains a non-finite value at index {np.argmax(IMAGE > 1.9)} (row {np.argmax(IMAGE > 1.9) // 11}, "
     f"column {np.argmax(IMAGE > 1.9) % 11})" + HINT),
])
def test_bad_arguments_say_what_was_given_and_what_is_accepted(call, error, message):
    check_raises(error, message, call)


def test_only_windows_whose_cost_grows_with_them_are_capped():
    # The rolling ball's moving average costs the window at every sample; openings cost the same at any window,
    # so a window the estimate could choose is never refused when given back.
    y = np.random.default_rng(0).normal(size=500_000).cumsum()
    with pytest.raises(ValueError, match="half_window must be smaller: a window of 400001 samples"):
        quorvel.baseline(y, "rolling_ball", half_window=200_000)
    for method in ("mor", "tophat"):
        assert np.all(np.isfinite(quorvel.baseline(y, method, half_window=200_000)))


def test_the_fit_prints_what_happened_and_the_docs_list_every_parameter():
    text = repr(quorvel.fit(Y, "arpls", lam=1e5))
    assert "arpls" in text and "lam=100000.0, max_iter=50, tol=0.001" in text and "converged after" in text
    assert text.endswith("fields: baseline, corrected, method, params, iterations, converged, last_change, changes, "
                         "weights, used, outer_iterations, short_solves")
    for function, table in [(quorvel.correct, DEFAULTS_1D), (quorvel.fit_2d, DEFAULTS_2D)]:
        assert all(f"{name}=" in function.__doc__ for params in table.values() for name in params)
