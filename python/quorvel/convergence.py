"""Fits that stop at ``max_iter`` without meeting ``tol``, and grid fits whose linear solves stop at ``cg_max_iter``
without meeting ``cg_tol``, say so, on every front but ``quorvel._native``."""

from __future__ import annotations

import warnings
from typing import Any, Mapping, Type

import numpy as np
import numpy.typing as npt

__all__ = ["ConvergenceWarning", "advice", "warn_unconverged", "warn_short_solves"]


class ConvergenceWarning(UserWarning):
    """Some fits stopped at ``max_iter`` without meeting their ``tol``, or some of their linear solves at
    ``cg_max_iter`` without meeting ``cg_tol``; their baselines may be poor."""


def advice(method: str, params: Mapping[str, Any]) -> str:
    """What to change when ``method`` with ``params`` does not converge."""
    if method == "airpls" and params.get("stop", "weights") == "weights":
        return ("for airpls, stop=\"residuals\" (the airPLS paper's own rule), which converges where the weights "
                "keep changing; or raise max_iter or tol")
    return "raise max_iter or tol" if "tol" in params else "raise max_iter"


def message(unconverged: int, total: int, ndim: int, method: str, params: Mapping[str, Any]) -> str:
    """``3 of 80 spectra did not converge ...``: the text of the warning for ``ndim``-dimensional items."""
    nouns = ("spectrum" if total == 1 else "spectra") if ndim == 1 else ("image" if total == 1 else "images")
    if method == "goldindec":
        return (f"{unconverged} of {total} {nouns} did not converge: goldindec's threshold search stopped at "
                f"max_iter_2={params.get('max_iter_2')} without meeting tol_2={params.get('tol_2')} or tol_3="
                f"{params.get('tol_3')}, or its last fit at max_iter={params.get('max_iter')}; raise max_iter_2, "
                "tol_3 or max_iter")
    if method == "swima":
        return (f"{unconverged} of {total} {nouns} did not converge: swima's passes reached max_half_window="
                f"{params.get('max_half_window')} before the area's removal sped up again, and its last pass is the "
                "baseline; raise max_half_window or lower min_half_window")
    unmet = f"tol={params.get('tol')}" if "tol" in params else "its stop rule"
    return (f"{unconverged} of {total} {nouns} did not converge: {method} stopped at max_iter="
            f"{params.get('max_iter')} without meeting {unmet}; {advice(method, params)}")


def warn_unconverged(
    converged: npt.NDArray[Any],
    ndim: int,
    method: str,
    params: Mapping[str, Any],
    stacklevel: int,
    category: Type[Warning] = ConvergenceWarning,
) -> None:
    """One warning for all the fits of a call whose ``converged`` flag is false, if any; ``stacklevel``
    counts from the caller of this function."""
    unconverged = int(np.count_nonzero(~np.asarray(converged, bool)))
    if unconverged:
        warnings.warn(message(unconverged, int(np.size(converged)), ndim, method, params), category,
                      stacklevel=stacklevel + 1)


def short_message(short: npt.NDArray[Any], ndim: int, params: Mapping[str, Any]) -> str:
    """``2 of 80 images had linear solves stop ...``: the text of the warning for solves left short, counted per item."""
    items, total, solves = int(np.count_nonzero(short)), int(np.size(short)), int(np.sum(short))
    limits = f"cg_max_iter={params.get('cg_max_iter')} short of cg_tol={params.get('cg_tol')}"
    remedy = "the baseline may be off; raise cg_max_iter or cg_tol"
    if total == 1:
        return f"{solves} of the fit's linear solves stopped at {limits}: {remedy}"
    noun = "spectra" if ndim == 1 else "images"
    return f"{items} of {total} {noun} had linear solves stop at {limits} ({solves} solves): {remedy}"


def warn_short_solves(
    short: npt.NDArray[Any],
    ndim: int,
    params: Mapping[str, Any],
    stacklevel: int,
    category: Type[Warning] = ConvergenceWarning,
) -> None:
    """One warning for all the fits of a call with linear solves left short (``short`` counts them per item), if
    any; ``stacklevel`` counts from the caller of this function."""
    if np.any(short):
        warnings.warn(short_message(np.asarray(short), ndim, params), category, stacklevel=stacklevel + 1)
