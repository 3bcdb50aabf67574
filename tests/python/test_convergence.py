"""Fits that stop at max_iter without meeting tol say so on every front except the native module."""
import warnings

import numpy as np
import pytest

import quorvel
from quorvel import _native

STACK = np.linspace(0.0, 3.0, 200) + np.random.default_rng(0).standard_normal((4, 200))
STACK[2] = np.linspace(0.0, 1.0, 200)
IMAGES = STACK.reshape(4, 10, 20)
SHORT = dict(max_iter=5)  # asls converges on spectra 0 and 3 and on image 3 only


def dask_correct(data, method, **params):
    dask_array = pytest.importorskip("dask.array")
    from quorvel import dask as quorvel_dask

    return quorvel_dask.correct(dask_array.from_array(data, chunks=(2, 200)), method, **params).compute(
        scheduler="synchronous")


FRONTS = [
    (lambda: quorvel.correct(STACK[1], "asls", **SHORT), "1 of 1 spectrum"),
    (lambda: quorvel.baseline(STACK[1], "asls", **SHORT), "1 of 1 spectrum"),
    (lambda: quorvel.fit(STACK[1], "asls", **SHORT), "1 of 1 spectrum"),
    (lambda: quorvel.correct_many(STACK, "asls", **SHORT), "2 of 4 spectra"),
    (lambda: quorvel.fit_many(STACK, "asls", **SHORT), "2 of 4 spectra"),
    (lambda: quorvel.baseline_2d(IMAGES[0], "asls", **SHORT), "1 of 1 image"),
    (lambda: quorvel.correct_2d_many(IMAGES, "asls", **SHORT), "3 of 4 images"),
    (lambda: quorvel.fit_2d_many(IMAGES, "asls", **SHORT), "3 of 4 images"),
]


@pytest.mark.parametrize("front, counted", FRONTS)
def test_every_front_says_how_many_fits_did_not_converge(front, counted):
    with pytest.warns(quorvel.ConvergenceWarning) as caught:
        front()
    assert len(caught) == 1 and caught[0].filename == __file__
    assert str(caught[0].message) == (f"{counted} did not converge: asls stopped at max_iter=5 without meeting "
                                      "tol=0.001; raise max_iter or tol")


@pytest.mark.parametrize("call", [lambda: quorvel.fit(STACK[0], "asls", **SHORT),
                                  lambda: quorvel.correct_many(STACK[[0, 3]], "asls", **SHORT),
                                  lambda: quorvel.correct_2d(IMAGES[3], "asls", **SHORT),
                                  lambda: quorvel.correct_many(STACK, "airpls", lam=1e3, stop="residuals"),
                                  lambda: quorvel.correct(STACK[1], "rolling_ball")])
def test_fits_that_converge_say_nothing(call):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        call()


def test_airpls_points_to_its_residual_rule():
    with pytest.warns(quorvel.ConvergenceWarning, match=r'for airpls, stop="residuals" \(the airPLS paper'):
        quorvel.correct(STACK[0], "airpls", lam=1e3)


def test_dask_blocks_warn_for_their_own_spectra():
    with pytest.warns(quorvel.ConvergenceWarning, match="of 2 spectra did not converge: asls") as caught:
        dask_correct(STACK, "asls", **SHORT)
    assert sorted(str(w.message)[:6] for w in caught) == ["1 of 2", "1 of 2"]


def test_the_transformer_warns_as_scikit_learn_does():
    exceptions = pytest.importorskip("sklearn.exceptions")
    from quorvel.sklearn import BaselineCorrector

    with pytest.warns(exceptions.ConvergenceWarning, match="2 of 4 spectra did not converge: asls"):
        BaselineCorrector("asls", **SHORT).fit_transform(STACK)


def test_the_native_module_stays_silent():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        _native.correct(STACK[1], "airpls")


@pytest.mark.parametrize("method, params", [("airpls", dict(lam=1e3)), ("asls", SHORT), ("brpls", {}),
                                            ("rolling_ball", {})])
def test_fit_many_reports_each_item_as_fit_does(method, params):
    stack = STACK.reshape(2, 2, 200)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        many = quorvel.fit_many(stack, method, **params)
        singles = [[quorvel.fit(row, method, **params) for row in rows] for rows in stack]
    np.testing.assert_array_equal(many.baseline, quorvel.baseline_many(stack, method, **params))
    for field in ("iterations", "converged", "last_change"):
        expected = np.array([[getattr(one, field) for one in row] for row in singles])
        np.testing.assert_array_equal(getattr(many, field), expected)
        assert getattr(many, field).dtype == expected.dtype
    assert many.method == method and many.params == singles[0][0].params


def test_fit_2d_many_reports_along_the_other_axes():
    images = np.moveaxis(IMAGES, 0, -1)  # the images on axes 0 and 1
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        many = quorvel.fit_2d_many(images, "asls", axes=(0, 1), max_iter=4)
        singles = [quorvel.fit_2d(images[..., k], "asls", max_iter=4) for k in range(4)]
    assert many.iterations.shape == (4,) and many.baseline.shape == images.shape
    np.testing.assert_array_equal(many.converged, [one.converged for one in singles])
    np.testing.assert_array_equal(many.baseline[..., 1], singles[1].baseline)


# Plain conjugate gradients (more than 512 points), multigrid, and drpls' BiCGSTAB, each two steps a solve.
TWO_STEPS = dict(cg_max_iter=2, cg_tol=1e-12)
SHORT_SOLVES = [(lambda **p: quorvel.fit_2d(IMAGES[0].repeat(3, axis=0), "asls", solver="cg", max_iter=3, **p), 3),
                (lambda **p: quorvel.fit_2d(IMAGES[0], "asls", solver="multigrid", max_iter=3, **p), 3),
                (lambda **p: quorvel.fit_2d(IMAGES[0], "drpls", max_iter=2, **p), 3)]


@pytest.mark.parametrize("fit, solves", SHORT_SOLVES)
def test_solves_stopped_at_cg_max_iter_are_counted_and_said(fit, solves):
    with pytest.warns(quorvel.ConvergenceWarning) as caught:
        result = fit(**TWO_STEPS)
    assert result.short_solves == solves and "short solves: 3" in repr(result)
    assert [str(w.message) for w in caught if "cg_max_iter" in str(w.message)] == [
        "3 of the fit's linear solves stopped at cg_max_iter=2 short of cg_tol=1e-12: the baseline may be off; "
        "raise cg_max_iter or cg_tol"]
    assert caught[-1].filename == __file__
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert fit(cg_max_iter=10000).short_solves == 0
    assert not [w for w in caught if "cg_max_iter" in str(w.message)]


def test_a_batch_counts_each_images_short_solves():
    images = np.stack([IMAGES[0], np.ones((10, 20))])  # a constant fits itself, in no step
    with pytest.warns(quorvel.ConvergenceWarning, match=r"^1 of 2 images had linear solves stop at cg_max_iter=2 "
                      r"short of cg_tol=1e-12 \(3 solves\)"):
        result = quorvel.fit_2d_many(images, "asls", solver="multigrid", max_iter=3, **TWO_STEPS)
    assert result.short_solves.tolist() == [3, 0]
    with pytest.warns(quorvel.ConvergenceWarning, match="cg_max_iter=2"):
        quorvel.baseline_2d(IMAGES[0], "asls", solver="multigrid", max_iter=3, **TWO_STEPS)
