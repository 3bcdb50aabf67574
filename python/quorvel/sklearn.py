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

import inspect
import warnings
from typing import Any, Dict, Optional, Tuple

import numpy as np
import numpy.typing as npt

try:
    from sklearn.base import (  # type: ignore[import-untyped, import-not-found, unused-ignore]
        BaseEstimator,
        OneToOneFeatureMixin,
        TransformerMixin,
    )
    from sklearn.exceptions import ConvergenceWarning  # type: ignore[import-untyped, import-not-found, unused-ignore]
    from sklearn.utils.validation import check_is_fitted, validate_data  # type: ignore[import-untyped, import-not-found, unused-ignore]
except ImportError as error:
    raise ImportError("quorvel.sklearn needs scikit-learn 1.6 or later: pip install 'quorvel[scikit-learn]'") from error

from . import _engine, _pool, batch, parameters
from ._engine import CORRECTED

__all__ = ["BaselineCorrector"]

def _parameter_names() -> Tuple[str, ...]:
    """Every parameter of a one-dimensional method in the catalogue, each once, in the catalogue's order."""
    names = (param.name for params in parameters.methods_taking(1).values() for param in params)
    return tuple(dict.fromkeys(names))


PARAMETER_NAMES = _parameter_names()


DEPRECATED = "deprecated"


class BaselineCorrector(OneToOneFeatureMixin, TransformerMixin, BaseEstimator):  # type: ignore[misc, unused-ignore]
    """Baseline correction of each row with one of quorvel's one-dimensional methods.

    Parameters
    ----------
    method : str, default="asls"
        Any of ``quorvel.parameters.method_names(1)``.
    x : array_like or None, default=None
        The position of each feature (one per column), for the methods that fit on it.
    mask : array_like of bool or None, default=None
        One flag per feature: False leaves that feature out of every row's fit (a region of the
        spectrum to ignore); its corrected value is still the row minus the baseline there.
    n_jobs : int or None, default=None
        Threads for ``transform``, as scikit-learn counts them: None one, -1 one per CPU, -2 all
        but one.
    workers : deprecated
        The former name of ``n_jobs``; a value given here is used when ``n_jobs`` is None.
    {names} : optional
        The method's parameters (see ``help(quorvel.correct)``); None leaves a parameter at the
        method's default. Setting one the method does not take is an error at ``fit``.

    The output keeps the input's feature names (``get_feature_names_out``), and ``set_output``
    gives pandas or polars frames. Rows whose fits stop at ``max_iter`` without meeting ``tol`` are
    counted in scikit-learn's ConvergenceWarning; for airpls, ``stop="residuals"`` converges where
    the default rule keeps failing on noisy spectra.
    """

    def __init__(self, method: str = "asls", *, x: Any = None, mask: Any = None, n_jobs: Optional[int] = None,
                 workers: Any = DEPRECATED, **params: Any) -> None:
        unknown = set(params) - set(PARAMETER_NAMES)
        if unknown:
            raise TypeError(f"BaselineCorrector takes no parameter {sorted(unknown)[0]!r}")
        self.method = method
        self.x = x
        self.mask = mask
        self.n_jobs = n_jobs
        self.workers = workers
        for name in PARAMETER_NAMES:
            setattr(self, name, params.get(name))

    def _method_params(self) -> Dict[str, Any]:
        return {name: getattr(self, name) for name in PARAMETER_NAMES if getattr(self, name) is not None}

    def fit(self, X: npt.ArrayLike, y: object = None) -> "BaselineCorrector":
        """Checks the method, its parameters, x and mask against ``X``; learns only the number (and names)
        of the features."""
        data: npt.NDArray[np.float64] = validate_data(self, X, dtype=np.float64)
        features = data.shape[1]
        used = features if self.mask is None else int(np.count_nonzero(self._row_mask(features)))
        self.method_ = _engine.plan(1, self.method, self._method_params(), (features,), used, self.x).name
        self.n_jobs_ = self._threads()
        return self

    def _row_mask(self, features: int) -> npt.NDArray[np.bool_]:
        mask = np.asarray(self.mask)
        if mask.dtype != np.bool_ or mask.shape != (features,):
            raise ValueError(f"mask must be a bool array of one flag per feature ({features}), not {mask.dtype} "
                             f"of shape {mask.shape}")
        return mask

    def _threads(self) -> int:
        n_jobs = self.n_jobs
        if not isinstance(self.workers, str) or self.workers != DEPRECATED:
            warnings.warn("BaselineCorrector's workers is now n_jobs, with scikit-learn's meaning (None: one "
                          "thread, -1: one per CPU)", FutureWarning, stacklevel=3)
            if n_jobs is None:
                return _pool.CPUS if self.workers is None else int(self.workers)
        if n_jobs is None:
            return 1
        if isinstance(n_jobs, bool) or not isinstance(n_jobs, (int, np.integer)) or n_jobs == 0:
            raise ValueError(f"n_jobs must be None or a non-zero integer, not {n_jobs!r}")
        return int(n_jobs) if n_jobs > 0 else max(1, _pool.CPUS + 1 + int(n_jobs))

    def transform(self, X: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """Every row of ``X`` minus its baseline; scikit-learn's ConvergenceWarning says how many rows did not
        converge (for airpls, ``stop="residuals"`` converges where the weights keep changing)."""
        check_is_fitted(self, "method_")
        data: npt.NDArray[np.float64] = validate_data(self, X, dtype=np.float64, reset=False)
        mask = None if self.mask is None else np.broadcast_to(self._row_mask(data.shape[1]), data.shape)
        applied = batch.apply(data, self.method_, (1,), self.n_jobs_, mask, self._method_params(), CORRECTED,
                              (self.x,))
        applied.warn_unconverged(stacklevel=2, category=ConvergenceWarning)
        return applied.result

    def __sklearn_tags__(self) -> Any:
        tags = super().__sklearn_tags__()
        tags.requires_fit = True
        tags.input_tags.allow_nan = False
        return tags


# scikit-learn reads an estimator's parameters from the signature of its __init__: every
# parameter of the catalogue is spelled out there, so a method added to it is tunable here.
BaselineCorrector.__init__.__signature__ = inspect.Signature(  # type: ignore[attr-defined]
    [
        inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD),
        inspect.Parameter("method", inspect.Parameter.POSITIONAL_OR_KEYWORD, default="asls"),
        inspect.Parameter("x", inspect.Parameter.KEYWORD_ONLY, default=None),
        inspect.Parameter("mask", inspect.Parameter.KEYWORD_ONLY, default=None),
        inspect.Parameter("n_jobs", inspect.Parameter.KEYWORD_ONLY, default=None),
        inspect.Parameter("workers", inspect.Parameter.KEYWORD_ONLY, default=DEPRECATED),
        *(inspect.Parameter(name, inspect.Parameter.KEYWORD_ONLY, default=None) for name in PARAMETER_NAMES),
    ]
)
BaselineCorrector.__doc__ = (BaselineCorrector.__doc__ or "").replace("{names}", ", ".join(PARAMETER_NAMES))
