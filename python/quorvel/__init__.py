"""Baseline estimation and removal for spectra and images."""

from ._native import baseline, baseline_2d, correct, correct_2d, methods, methods_2d

__all__ = ["baseline", "correct", "baseline_2d", "correct_2d", "methods", "methods_2d"]
