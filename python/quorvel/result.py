"""What a fit hands back besides its baseline."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, Optional

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]

__all__ = ["FitResult", "ManyResult"]


@dataclass(frozen=True, repr=False)
class FitResult:
    """The whole outcome of one fit.

    Attributes
    ----------
    baseline, corrected : ndarray
        The estimated baseline and ``data - baseline`` (NaN where masked-out data was NaN).
    method : str
        The canonical method name.
    params : dict
        Every parameter the fit ran with, defaults included; a ``half_window`` left to the data (None)
        shows the window the fit estimated and used.
    iterations : int
        Reweighting iterations run (1 for the rolling ball and the polynomial).
    converged : bool
        Whether the stop rule was met before ``max_iter``.
    last_change : float
        The stop measure of the last iteration: the relative change of the weights, or for airpls
        with ``stop="residuals"`` the share of negative residuals.
    changes : ndarray
        The stop measure of every iteration (empty for methods that do not iterate).
    weights : ndarray or None
        The weights of the last reweighting, for the reweighted methods.
    used : int
        How many samples the fit used (fewer than ``baseline.size`` with a mask).
    outer_iterations : int
        For brpls, the updates of the share of the data taken by peaks (each one an inner loop of
        reweightings, all of them counted in ``iterations``); 0 for the other methods.
    short_solves : int
        For the grid Whittaker methods, the linear solves that stopped at ``cg_max_iter`` without meeting
        ``cg_tol`` (each left its last iterate; a ConvergenceWarning says so); 0 for the other methods.
    """

    baseline: Array
    corrected: Array
    method: str
    params: Dict[str, Any]
    iterations: int
    converged: bool
    last_change: float
    changes: Array
    weights: Optional[Array] = field(default=None)
    used: int = 0
    outer_iterations: int = 0
    short_solves: int = 0

    def __repr__(self) -> str:
        shape = "x".join(map(str, self.baseline.shape))
        lines = [f"FitResult: {self.method} on {shape} samples, {self._outcome()}"]
        lines.append("  params: " + ", ".join(f"{name}={value!r}" for name, value in self.params.items()))
        if self.used != self.baseline.size:
            lines.append(f"  mask: {self.used} of {self.baseline.size} samples used")
        if self.changes.size:
            lines.append(f"  changes: {_preview(self.changes)}")
        if self.weights is not None:
            w = self.weights
            lines.append(f"  weights: from {w.min():.3g} to {w.max():.3g}, mean {w.mean():.3g}")
        if self.short_solves:
            lines.append(f"  short solves: {self.short_solves} stopped at cg_max_iter short of cg_tol")
        lines.append("  baseline, corrected: float64 arrays; fields: " + ", ".join(self.__dataclass_fields__))
        return "\n".join(lines)

    def _outcome(self) -> str:
        if not self.changes.size:
            return "a single pass"
        state = "converged" if self.converged else "did not converge"
        steps = "iteration" if self.iterations == 1 else "iterations"
        outer = f" in {self.outer_iterations} outer ones" if self.outer_iterations else ""
        return f"{state} after {self.iterations} {steps}{outer} (last change {self.last_change:.3g})"


@dataclass(frozen=True, repr=False)
class ManyResult:
    """The outcome of one method on every spectrum (or image) of a batch.

    Attributes
    ----------
    baseline : ndarray
        The baselines, in the data's shape.
    method : str
        The canonical method name.
    params : dict
        Every parameter the fits ran with, defaults included; a ``half_window`` left to the data stays None,
        each item estimating its own (``fit`` reports one item's).
    iterations, converged, last_change : ndarray
        Each item's reweighting iterations (int64), whether its stop rule was met before ``max_iter``
        (bool) and its last stop measure (float64), in the shape of the data's other axes.
    short_solves : ndarray
        Each item's linear solves that stopped at ``cg_max_iter`` without meeting ``cg_tol`` (int64, the
        grid Whittaker methods; 0 for the others), in the same shape.
    """

    baseline: Array
    method: str
    params: Dict[str, Any]
    iterations: npt.NDArray[np.int64]
    converged: npt.NDArray[np.bool_]
    last_change: Array
    short_solves: npt.NDArray[np.int64]

    def __repr__(self) -> str:
        total = self.converged.size
        shape = "x".join(map(str, self.baseline.shape))
        text = f"ManyResult: {self.method} on {shape} samples, {total - int(np.count_nonzero(self.converged))} of "
        text += f"{total} fits did not converge"
        if total:
            text += f"; iterations from {self.iterations.min()} to {self.iterations.max()}"
        return text


def _preview(values: Array, shown: int = 3) -> str:
    text = [f"{value:.3g}" for value in values]
    if len(text) > 2 * shown:
        text = text[:shown] + ["..."] + text[-shown:]
    return ", ".join(text)
