"""A synthetic spectrum and image whose true background is known, and every method scored on them.

The spectrum is a few Gaussian peaks on a curved background, the image a few bright
spots on a smooth tilted surface, both with a little noise from a fixed seed, so the
numbers are the same on every run and machine.
"""

from __future__ import annotations

import warnings
from dataclasses import dataclass, field
from typing import Callable, Dict, FrozenSet, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from . import api, parameters
from .convergence import ConvergenceWarning
from .result import FitResult

Array = npt.NDArray[np.float64]

__all__ = ["synthetic_spectrum", "synthetic_image", "Scores", "score", "rms_error"]


def synthetic_spectrum(n: int = 1000, seed: int = 0) -> Tuple[Array, Array]:
    """``(spectrum, background)`` on x in [0, 1]."""
    x = np.linspace(0.0, 1.0, n)
    background = 1.0 + 2.0 * x - 1.5 * x**2 + 0.5 * np.exp(-3.0 * x)
    peaks = sum(
        height * np.exp(-0.5 * ((x - centre) / width) ** 2)
        for centre, width, height in [(0.2, 0.004, 3.0), (0.45, 0.008, 5.0), (0.7, 0.005, 2.0), (0.85, 0.01, 4.0)]
    )
    noise = np.random.default_rng(seed).normal(0.0, 0.02, n)
    return background + peaks + noise, background


def synthetic_image(rows: int = 128, cols: int = 160, seed: int = 1) -> Tuple[Array, Array]:
    """``(image, background)`` of shape ``(rows, cols)``."""
    r, c = np.mgrid[0:rows, 0:cols]
    y, x = r / (rows - 1), c / (cols - 1)
    background = 10.0 + 2.0 * x - 1.5 * y + 0.8 * x * y + np.sin(2.0 * x)
    rng = np.random.default_rng(seed)
    spots = sum(
        rng.uniform(4.0, 8.0) * np.exp(-((r - rng.uniform(0, rows)) ** 2 + (c - rng.uniform(0, cols)) ** 2) / 4.0)
        for _ in range(12)
    )
    return background + spots + rng.normal(0.0, 0.05, (rows, cols)), background


def rms_error(estimate: Array, truth: Array) -> float:
    return float(np.sqrt(np.mean((estimate - truth) ** 2)))


@dataclass(frozen=True)
class Scores:
    """The synthetic data, every method's baseline of it, and the RMS error of each baseline."""

    spectrum: Array
    spectrum_background: Array
    spectrum_baselines: Dict[str, Array]
    image: Array
    image_background: Array
    image_baselines: Dict[str, Array]
    # (method, dimensions) of the fits that stopped at max_iter without meeting tol
    unconverged: FrozenSet[Tuple[str, int]] = field(default_factory=frozenset)

    def spectrum_error(self, method: str) -> Optional[float]:
        return _error(self.spectrum_baselines, method, self.spectrum_background)

    def image_error(self, method: str) -> Optional[float]:
        return _error(self.image_baselines, method, self.image_background)

    def table(self) -> str:
        """One row per method, a dash where a method has no grid version."""
        methods = list(dict.fromkeys([*self.spectrum_baselines, *self.image_baselines]))
        lines = [f"{'RMS error of baseline':<22}{'spectrum':>10}{'image':>10}"]
        for method in methods:
            cells = [_cell(self.spectrum_error(method), (method, 1) in self.unconverged),
                     _cell(self.image_error(method), (method, 2) in self.unconverged)]
            lines.append(f"{method:<22}" + "".join(f"{cell:>10}" for cell in cells))
        if self.unconverged:
            lines.append("* stopped at max_iter without meeting tol, at the defaults (airpls: try stop=\"residuals\")")
        return "\n".join(lines)


# Methods that draw the baseline through points the caller picks have nothing to score at their defaults.
NEEDS_POINTS = frozenset({"interp_pts"})


def score(methods: Optional[Sequence[str]] = None, methods_2d: Optional[Sequence[str]] = None) -> Scores:
    """Runs ``methods`` (default: all but those needing the caller's points) on the spectrum and ``methods_2d``
    on the image."""
    spectrum, spectrum_background = synthetic_spectrum()
    image, image_background = synthetic_image()
    with warnings.catch_warnings():  # the table marks them instead
        warnings.simplefilter("ignore", ConvergenceWarning)
        every = [method for method in parameters.method_names(1) if method not in NEEDS_POINTS]
        fits = _fits(api.fit, spectrum, methods if methods is not None else every)
        fits_2d = _fits(api.fit_2d, image, methods_2d if methods_2d is not None else parameters.method_names(2))
    unconverged = {(method, 1) for method, fit in fits.items() if not fit.converged}
    unconverged |= {(method, 2) for method, fit in fits_2d.items() if not fit.converged}
    return Scores(
        spectrum,
        spectrum_background,
        {method: fit.baseline for method, fit in fits.items()},
        image,
        image_background,
        {method: fit.baseline for method, fit in fits_2d.items()},
        frozenset(unconverged),
    )


def _fits(fit: Callable[[Array, str], FitResult], data: Array, methods: Sequence[str]) -> Dict[str, FitResult]:
    return {method: fit(data, method) for method in methods}


def _error(baselines: Dict[str, Array], method: str, truth: Array) -> Optional[float]:
    return rms_error(baselines[method], truth) if method in baselines else None


def _cell(value: Optional[float], unconverged: bool) -> str:
    return "- " if value is None else f"{value:.4f}{'*' if unconverged else ' '}"
