import os

import numpy as np
import pytest

import quorvel
from support import make_spectrum

sklearn = pytest.importorskip("sklearn")
from sklearn.base import clone  # noqa: E402
from sklearn.linear_model import Ridge  # noqa: E402
from sklearn.model_selection import GridSearchCV  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.utils.estimator_checks import check_estimator  # noqa: E402

from quorvel.sklearn import BaselineCorrector  # noqa: E402

# scikit-learn's checks run short fits on random rows; test_convergence.py checks the warning itself.
pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.ConvergenceWarning")

# Checks that cannot apply to a corrector that learns nothing and fits each row on its own.
NOT_APPLICABLE = {
    "check_transformer_n_iter": "max_iter caps each spectrum's reweighting at transform time; fit learns no n_iter_",
}
# scikit-learn's checks feed rows of 1 to 3 features: spectra shorter than some methods can fit. Each refuses
# them with a ValueError naming the method and what it needs, which these checks do not expect.
TOO_SHORT = "its matrices have rows of 2 samples, fewer than any Whittaker fit needs"
FEW_FEATURES = "rows of 3 features, on which the rule's weights vanish at all but one sample: a straight line is free"
SHORT_ROWS = {
    "check_fit_idempotent": TOO_SHORT,
}
WEIGHTS_VANISH = {name: FEW_FEATURES for name in [
    "check_fit_score_takes_y", "check_dtype_object", "check_pipeline_consistency", "check_estimators_pickle",
    "check_f_contiguous_array_estimator", "check_transformer_data_not_an_array", "check_transformer_general",
    "check_transformer_preserve_dtypes", "check_methods_sample_order_invariance", "check_methods_subset_invariance",
    "check_dict_unchanged", "check_estimators_dtypes", "check_fit2d_predict1d", "check_readonly_memmap_input"]}
NO_ANCHORS = "rows of 3 features whose openings have no flat stretch inside them: with p=0 nothing holds the smooth"
NO_EXTENSION = "rows of 3 features, a tenth of which adds no sample past their ends for ria's peaks"
FEWER_THAN_KNOTS = "rows of 1 to 5 features hold fewer samples than the 100 knots a P-spline takes by default"
POLY_ORDER = "poly_order 2 needs 3 samples; these rows have 1 or 2, which the error says in its own words"
TOO_FEW_FOR_ORDER = {name: POLY_ORDER for name in [
    "check_estimators_overwrite_params", "check_estimators_fit_returns_self", "check_readonly_memmap_input",
    "check_fit2d_1feature", "check_fit_idempotent", "check_fit_check_is_fitted", "check_n_features_in"]}
THIN_WINDOWS = "rows of 5 features leave loess's default fraction windows of 1 sample, which its error names"
EXPECTED = {
    "loess": {**TOO_FEW_FOR_ORDER, **{name: THIN_WINDOWS for name in [
        "check_fit_score_takes_y", "check_estimators_dtypes", "check_pipeline_consistency", "check_estimators_pickle",
        "check_f_contiguous_array_estimator", "check_transformer_data_not_an_array", "check_transformer_general",
        "check_transformer_preserve_dtypes", "check_methods_sample_order_invariance",
        "check_methods_subset_invariance", "check_dict_unchanged", "check_fit_idempotent"]}},
    **{name: TOO_FEW_FOR_ORDER
       for name in ("polynomial", "poly", "modpoly", "imodpoly", "penalized_poly", "quant_reg", "goldindec")},
    "arpls": {**SHORT_ROWS, **WEIGHTS_VANISH},
    "derpsalsa": {**SHORT_ROWS, **WEIGHTS_VANISH},
    "mpls": {**SHORT_ROWS, **dict.fromkeys(WEIGHTS_VANISH, NO_ANCHORS)},
    "ria": {**SHORT_ROWS, **dict.fromkeys(WEIGHTS_VANISH, NO_EXTENSION)},
    **{name: dict.fromkeys({**SHORT_ROWS, **WEIGHTS_VANISH}, FEWER_THAN_KNOTS)
       for name in quorvel.parameters.method_names(1) if name.startswith("pspline_")
       or name in ("mixture_model", "irsqr")},
    "rolling_ball": {},
    "tophat": {},
}


@pytest.mark.parametrize("method", quorvel.parameters.method_names(1))
def test_scikit_learn_estimator_checks(method):
    expected = {**NOT_APPLICABLE, **EXPECTED.get(method, SHORT_ROWS)}
    outcomes = check_estimator(BaselineCorrector(method), expected_failed_checks=expected, on_fail=None)
    failed = {outcome["check_name"] for outcome in outcomes if outcome["status"] == "failed"}
    assert failed == set(), failed
    # Every expected failure still fails as explained, in the library's words where it refuses.
    words = {FEW_FEATURES: "weights left too few samples", NO_ANCHORS: "leaves the baseline undetermined",
             NO_EXTENSION: "width_scale: must add from 2", FEWER_THAN_KNOTS: "num_knots: must be at most"}
    for outcome in outcomes:
        if outcome["status"] == "xfail" and expected.get(outcome["check_name"]) in words:
            assert words[expected[outcome["check_name"]]] in str(outcome["exception"])


def test_rows_get_the_bits_of_the_batch_path_in_pipelines_and_searches():
    X = np.stack([make_spectrum(80, seed) for seed in range(12)])
    target = X[:, 20]
    corrector = BaselineCorrector("arpls", lam=1e4)
    assert clone(corrector).get_params()["lam"] == 1e4
    assert corrector.fit_transform(X).tobytes() == quorvel.correct_many(X, "arpls", lam=1e4).tobytes()
    search = GridSearchCV(make_pipeline(BaselineCorrector("asls"), Ridge()),
                          {"baselinecorrector__lam": [1e2, 1e5]}, cv=3).fit(X, target)
    assert search.best_params_["baselinecorrector__lam"] in (1e2, 1e5)
    with pytest.raises(TypeError, match="rolling_ball takes no parameter 'lam'"):
        BaselineCorrector("rolling_ball", lam=1.0).fit(X)


def test_every_parameter_of_the_catalogue_is_tunable_and_x_reaches_the_fit():
    names = {param.name for params in quorvel.parameters.methods_taking(1).values() for param in params}
    assert names | {"method", "x", "mask", "n_jobs", "workers"} == set(BaselineCorrector().get_params())
    X = np.stack([make_spectrum(50, seed) for seed in range(3)])
    x = np.geomspace(1.0, 100.0, 50)
    corrector = BaselineCorrector("poly", x=x, poly_order=3)
    assert corrector.fit_transform(X).tobytes() == quorvel.correct_many(X, "poly", x=x, poly_order=3).tobytes()
    with pytest.raises(ValueError, match="x must hold one position per sample"):
        BaselineCorrector("poly", x=x[:-1]).fit(X)


@pytest.mark.parametrize("library", ["pandas", "polars"])
def test_feature_names_and_frames_pass_through(library):
    frames = pytest.importorskip(library)
    X = np.stack([make_spectrum(40, seed) for seed in range(5)])
    names = [f"{wavenumber} cm-1" for wavenumber in range(400, 440)]
    frame = frames.DataFrame(X, columns=names) if library == "pandas" else frames.DataFrame(X, schema=names)
    corrector = BaselineCorrector("arpls", lam=1e4).set_output(transform=library)
    out = corrector.fit_transform(frame)
    assert type(out) is type(frame) and list(out.columns) == names
    assert list(corrector.get_feature_names_out()) == names
    assert out.to_numpy().tobytes() == quorvel.correct_many(X, "arpls", lam=1e4).tobytes()
    pipeline = make_pipeline(BaselineCorrector(), Ridge()).fit(frame, X[:, 3])
    assert list(pipeline[:-1].get_feature_names_out()) == names


@pytest.mark.parametrize("n_jobs", [None, 1, 2, -1, -2])
def test_n_jobs_counts_threads_as_scikit_learn_does(n_jobs):
    X = np.stack([make_spectrum(60, seed) for seed in range(40)])
    corrector = BaselineCorrector("asls", n_jobs=n_jobs).fit(X)
    assert corrector.n_jobs_ == {None: 1, 1: 1, 2: 2, -1: os.cpu_count(), -2: max(1, os.cpu_count() - 1)}[n_jobs]
    assert corrector.transform(X).tobytes() == quorvel.correct_many(X, "asls").tobytes()


@pytest.mark.parametrize("workers, threads", [(3, 3), (None, os.cpu_count())])
def test_workers_is_the_deprecated_name_of_n_jobs(workers, threads):
    X = np.stack([make_spectrum(60, seed) for seed in range(4)])
    with pytest.warns(FutureWarning, match="workers is now n_jobs"):
        corrector = BaselineCorrector(workers=workers).fit(X)
    assert corrector.n_jobs_ == threads


@pytest.mark.parametrize("n_jobs", [0, 1.5, True])
def test_n_jobs_out_of_range_is_refused(n_jobs):
    with pytest.raises(ValueError, match="n_jobs must be None or a non-zero integer"):
        BaselineCorrector(n_jobs=n_jobs).fit(np.ones((2, 10)))


def test_a_mask_leaves_features_out_of_every_row():
    X = np.stack([make_spectrum(60, seed) for seed in range(6)])
    keep = np.ones(60, bool)
    keep[20:30] = False
    out = BaselineCorrector("arpls", mask=keep).fit_transform(X)
    assert out.tobytes() == quorvel.correct_many(X, "arpls", mask=np.broadcast_to(keep, X.shape)).tobytes()
    with pytest.raises(ValueError, match=r"mask must be a bool array of one flag per feature \(60\)"):
        BaselineCorrector(mask=keep[:-1]).fit(X)
