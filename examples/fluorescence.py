"""modpoly, imodpoly and quant_reg under a Raman spectrum on a fluorescence background.

The spectrum is synthetic but shaped like a measured one: narrow Raman bands and shot noise on a broad,
curved fluorescence background many times their height, on an uneven wavenumber axis.
``python examples/fluorescence.py docs/fluorescence.png`` draws the README's picture (needs matplotlib).
"""

import sys
from typing import Dict, Tuple

import numpy as np
import numpy.typing as npt

import quorvel

Array = npt.NDArray[np.float64]


def raman_spectrum(rng: np.random.Generator) -> Tuple[Array, Array, Array]:
    """Raman shift (cm⁻¹, uneven), counts and the true fluorescence background of 1500 points."""
    shift = 300.0 + 1500.0 * np.linspace(0.0, 1.0, 1500) ** 1.2
    t = (shift - 300.0) / 1500.0
    background = 2000.0 + 1800.0 * np.exp(-(((t - 0.55) / 0.5) ** 2)) - 500.0 * t
    bands = [(520.0, 4.0, 600.0), (1001.0, 3.0, 900.0), (1030.0, 5.0, 300.0), (1450.0, 12.0, 500.0),
             (1602.0, 6.0, 700.0), (1655.0, 10.0, 400.0)]
    peaks = sum(height / (1.0 + ((shift - centre) / width) ** 2) for centre, width, height in bands)
    counts = rng.poisson(background + peaks).astype(np.float64)
    return shift, counts, background


def fits(shift: Array, counts: Array) -> Dict[str, Array]:
    """The three baselines at order 4, the degree a fluorescence hump of this width needs; quant_reg follows
    the 30 % quantile, under the noise but less far than modpoly."""
    return {"modpoly": quorvel.baseline(counts, "modpoly", x=shift, poly_order=4),
            "imodpoly": quorvel.baseline(counts, "imodpoly", x=shift, poly_order=4),
            "quant_reg": quorvel.baseline(counts, "quant_reg", x=shift, poly_order=4, quantile=0.3, eps=1.0)}


def main(png: str) -> None:
    from matplotlib.figure import Figure

    shift, counts, background = raman_spectrum(np.random.default_rng(11))
    baselines = fits(shift, counts)
    figure = Figure(figsize=(8, 4), layout="constrained")
    axes = figure.subplots()
    axes.plot(shift, counts, lw=0.6, color="0.55", label="counts")
    axes.plot(shift, background, lw=1.0, ls="--", color="k", label="true background")
    for style, (name, baseline) in zip(("-", "-", ":"), baselines.items()):
        axes.plot(shift, baseline, lw=1.5, ls=style, label=name)
    axes.set(xlabel="Raman shift (cm⁻¹)", ylabel="counts", title="Fluorescence under a Raman spectrum, order 4")
    axes.legend(frameon=False)
    figure.savefig(png, dpi=110)
    for name, baseline in baselines.items():
        print(f"{name}: RMS error {np.sqrt(np.mean((baseline - background) ** 2)):.4g}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "fluorescence.png")
