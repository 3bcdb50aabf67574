"""Baseline estimation and removal for spectra and images."""

from ._native import methods, methods_2d
from ._version import __version__
from .api import baseline, baseline_2d, correct, correct_2d, fit, fit_2d
from .batch import baseline_2d_many, baseline_many, correct_2d_many, correct_many, fit_2d_many, fit_many
from .convergence import ConvergenceWarning
from .result import FitResult, ManyResult

__all__ = [
    "baseline",
    "correct",
    "fit",
    "baseline_2d",
    "correct_2d",
    "fit_2d",
    "FitResult",
    "ManyResult",
    "ConvergenceWarning",
    "methods",
    "methods_2d",
    "correct_many",
    "baseline_many",
    "fit_many",
    "correct_2d_many",
    "baseline_2d_many",
    "fit_2d_many",
    "__version__",
]
