"""Baseline estimation and removal for spectra and images."""

from ._native import baseline, baseline_2d, correct, correct_2d, methods, methods_2d
from .batch import baseline_2d_many, baseline_many, correct_2d_many, correct_many

__all__ = [
    "baseline",
    "correct",
    "baseline_2d",
    "correct_2d",
    "methods",
    "methods_2d",
    "correct_many",
    "baseline_many",
    "correct_2d_many",
    "baseline_2d_many",
]
