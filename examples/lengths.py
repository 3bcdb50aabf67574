"""One λ for any length: arpls and pspline_arpls, each at its default λ, on one spectrum sampled at 1,000 and at
10,000 points; and arpls with and without x on the same spectrum sampled unevenly.

A Whittaker smoother's penalty acts on differences between neighbouring samples, so the same λ is about 10⁴ times
weaker on ten times the samples, and the baseline starts to follow the bands; a P-spline's penalty acts on a fixed
number of knots spread over x, so its λ weakens only with the samples per knot (tenfold here). Given x that is not
evenly spaced, the Whittaker penalty takes divided differences in units of the mean step, so λ is as stiff everywhere
along x; without x it is stiff per sample, too soft where the samples crowd and too stiff where they are sparse.
``python examples/lengths.py docs/lengths.png`` draws the README's picture (needs matplotlib).
"""

import sys
from typing import Any, Tuple

import numpy as np
import numpy.typing as npt

import quorvel

Array = npt.NDArray[np.float64]
METHODS = ("arpls", "pspline_arpls")
# A merged spectrum: 850 points over the first 30 % of the range, 150 over the rest.
MERGED = np.r_[np.linspace(0.0, 0.3, 850, endpoint=False), np.linspace(0.3, 1.0, 150)]


def spectrum(t: Array, rng: np.random.Generator) -> Tuple[Array, Array]:
    """An IR-like absorbance on t in [0, 1]: bands of several widths on a curved background, and noise."""
    background = 0.3 + 0.25 * t + 0.2 * np.sin(2.2 * t + 0.4)
    bands = [(0.12, 0.006, 0.8), (0.3, 0.015, 0.5), (0.45, 0.004, 1.1), (0.62, 0.03, 0.4), (0.8, 0.008, 0.9)]
    peaks = sum(height / (1.0 + ((t - centre) / width) ** 2) for centre, width, height in bands)
    return background + peaks + 0.01 * rng.standard_normal(t.size), background


def rms(baseline: Array, background: Array) -> float:
    return float(np.sqrt(np.mean((baseline - background) ** 2)))


def main(png: str) -> None:
    from matplotlib.figure import Figure

    rng = np.random.default_rng(5)
    figure = Figure(figsize=(11, 7.5), layout="constrained")
    panels = figure.subplot_mosaic([["1000", "10000"], ["uneven", "uneven"]], sharey=True)
    for axes, n in zip((panels["1000"], panels["10000"]), (1000, 10000)):
        t = np.linspace(0.0, 1.0, n)
        y, background = spectrum(t, rng)
        axes.plot(t, y, lw=0.5, color="0.6", label="data")
        axes.plot(t, background, lw=1.2, ls="--", color="k", label="true background")
        for method in METHODS:
            baseline = quorvel.baseline(y, method)
            error = rms(baseline, background)
            axes.plot(t, baseline, lw=1.4, label=f"{method} (RMS error {error:.3f})")
            print(f"{method}, {n} points: RMS error {error:.4g}")
        axes.set(xlabel="x", ylabel="absorbance", title=f"{n:,} points, default λ", ylim=(0.25, 1.0))
        axes.legend(frameon=False, fontsize=8, loc="upper left")
    uneven(panels["uneven"], np.random.default_rng(5))
    figure.savefig(png, dpi=100)


def uneven(axes: Any, rng: np.random.Generator) -> None:
    """The merged spectrum, and arpls on it with and without its positions."""
    y, background = spectrum(MERGED, rng)
    axes.plot(MERGED, y, lw=0.5, color="0.6", marker=".", ms=1.5, label="data")
    axes.plot(MERGED, background, lw=1.2, ls="--", color="k", label="true background")
    for label, x in (("arpls with x", MERGED), ("arpls without x", None)):
        baseline = quorvel.baseline(y, "arpls", x=x)
        error = rms(baseline, background)
        axes.plot(MERGED, baseline, lw=1.4, label=f"{label} (RMS error {error:.3f})")
        print(f"{label}, merged 850 + 150 points: RMS error {error:.4g}")
    axes.set(xlabel="x", ylabel="absorbance", title="850 points up to x = 0.3, then 150, default λ", ylim=(0.25, 1.0))
    axes.legend(frameon=False, fontsize=8, loc="upper left")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "lengths.png")
