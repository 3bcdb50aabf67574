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

# Checks that cannot apply to a corrector that learns nothing and fits each row on its own.
NOT_APPLICABLE = {
    "check_transformer_n_iter": "max_iter caps each spectrum's reweighting at transform time; fit learns no n_iter_",
    "check_fit_idempotent": "its matrices have rows of 2 samples, fewer than any Whittaker fit needs",
}


def test_scikit_learn_estimator_checks():
    check_estimator(BaselineCorrector(), expected_failed_checks=NOT_APPLICABLE)


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
    assert names | {"method", "x", "workers"} == set(BaselineCorrector().get_params())
    X = np.stack([make_spectrum(50, seed) for seed in range(3)])
    x = np.geomspace(1.0, 100.0, 50)
    corrector = BaselineCorrector("poly", x=x, poly_order=3)
    assert corrector.fit_transform(X).tobytes() == quorvel.correct_many(X, "poly", x=x, poly_order=3).tobytes()
    with pytest.raises(ValueError, match="x must hold one position per sample"):
        BaselineCorrector("poly", x=x[:-1]).fit(X)
