"""A scikit-learn transformer that removes the baseline of every row of a spectra matrix.

    pip install 'quorvel[scikit-learn]'

    from sklearn.pipeline import make_pipeline
    from sklearn.decomposition import PCA
    model = make_pipeline(BaselineCorrector("arpls", lam=1e5), PCA(5))

Each row of ``X`` (n_samples, n_features) is one spectrum; ``transform`` returns the rows
minus their baselines, with the bits of ``quorvel.correct_many``. The transformer learns
nothing: ``fit`` checks the parameters and records the number of features.
"""

from __future__ import annotations

from typing import Any, Dict, Optional, Union

import numpy as np
import numpy.typing as npt

try:
    from sklearn.base import BaseEstimator, TransformerMixin  # type: ignore[import-untyped, import-not-found, unused-ignore]
    from sklearn.utils.validation import check_is_fitted, validate_data  # type: ignore[import-untyped, import-not-found, unused-ignore]
except ImportError as error:
    raise ImportError("quorvel.sklearn needs scikit-learn 1.6 or later: pip install 'quorvel[scikit-learn]'") from error

from . import batch, parameters

__all__ = ["BaselineCorrector"]

Number = Union[float, int]


class BaselineCorrector(TransformerMixin, BaseEstimator):  # type: ignore[misc, unused-ignore]
    """Baseline correction of each row with one of quorvel's one-dimensional methods.

    Parameters
    ----------
    method : str, default="asls"
        Any of ``quorvel.parameters.method_names(1)``.
    lam, p, max_iter, tol, stop, half_window, poly_order : optional
        The method's parameters (see ``help(quorvel.correct)``); None leaves a parameter at the
        method's default. Setting one the method does not take is an error at ``fit``.
    workers : int or None, default=1
        Threads for ``transform``; None uses one per CPU.
    """

    def __init__(
        self,
        method: str = "asls",
        *,
        lam: Optional[Number] = None,
        p: Optional[float] = None,
        max_iter: Optional[int] = None,
        tol: Optional[float] = None,
        stop: Optional[str] = None,
        half_window: Optional[int] = None,
        poly_order: Optional[int] = None,
        workers: Optional[int] = 1,
    ) -> None:
        self.method = method
        self.lam = lam
        self.p = p
        self.max_iter = max_iter
        self.tol = tol
        self.stop = stop
        self.half_window = half_window
        self.poly_order = poly_order
        self.workers = workers

    def _method_params(self) -> Dict[str, Any]:
        names = ("lam", "p", "max_iter", "tol", "stop", "half_window", "poly_order")
        return {name: getattr(self, name) for name in names if getattr(self, name) is not None}

    def fit(self, X: npt.ArrayLike, y: object = None) -> "BaselineCorrector":
        """Checks the method and its parameters against ``X``; learns only the number of features."""
        data: npt.NDArray[np.float64] = validate_data(self, X, dtype=np.float64)
        name = parameters.canonical(self.method, 1)
        features = data.shape[1]
        parameters.resolve(name, 1, self._method_params(), parameters.Shape((features,), features))
        self.method_ = name
        return self

    def transform(self, X: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """Every row of ``X`` minus its baseline."""
        check_is_fitted(self, "method_")
        data: npt.NDArray[np.float64] = validate_data(self, X, dtype=np.float64, reset=False)
        return batch.correct_many(data, self.method_, axis=1, workers=self.workers, **self._method_params())

    def __sklearn_tags__(self) -> Any:
        tags = super().__sklearn_tags__()
        tags.requires_fit = True
        tags.input_tags.allow_nan = False
        return tags
