"""snip under an X-ray fluorescence spectrum and rubberband under an infrared absorbance spectrum.

Both spectra are synthetic but shaped like measured ones: a falling bremsstrahlung continuum with
Poisson-noisy Kα/Kβ pairs, and absorbance bands on a sagging, curved background sampled on a
falling wavenumber axis. ``python examples/model_free.py docs/model-free.png`` draws the README's
picture (needs matplotlib).
"""

import sys
from typing import Tuple

import numpy as np
import numpy.typing as npt

import quorvel

Array = npt.NDArray[np.float64]


def xrf_spectrum(rng: np.random.Generator) -> Tuple[Array, Array, Array]:
    """Energy (keV), counts and the true continuum of a spectrum of 2048 channels."""
    energy = np.linspace(0.5, 20.0, 2048)
    continuum = 400.0 * energy * np.exp(-energy / 3.0) + 20.0
    lines = [(6.40, 7.06, 900.0), (8.05, 8.90, 1500.0), (14.96, 16.74, 400.0), (2.31, 2.46, 300.0)]
    peaks = sum(height * (np.exp(-((energy - ka) ** 2) / 0.012) + 0.15 * np.exp(-((energy - kb) ** 2) / 0.014))
                for ka, kb, height in lines)
    counts = rng.poisson(continuum + peaks).astype(np.float64)
    return energy, counts, continuum


def ir_spectrum(rng: np.random.Generator) -> Tuple[Array, Array, Array]:
    """Wavenumber (cm⁻¹, falling), absorbance and the true background of a spectrum of 1800 points."""
    wavenumber = np.linspace(4000.0, 400.0, 1800)
    t = (4000.0 - wavenumber) / 3600.0
    background = 0.25 + 0.35 * (t - 0.45) ** 2 - 0.05 * t
    bands = [(2920.0, 30.0, 0.35), (1730.0, 15.0, 0.6), (1450.0, 20.0, 0.25), (1100.0, 60.0, 0.5), (720.0, 8.0, 0.2)]
    absorbance = sum(height / (1.0 + ((wavenumber - centre) / width) ** 2) for centre, width, height in bands)
    return wavenumber, background + absorbance + rng.normal(0.0, 0.003, wavenumber.size), background


def main(png: str) -> None:
    from matplotlib.figure import Figure

    rng = np.random.default_rng(7)
    figure = Figure(figsize=(10, 4), layout="constrained")
    left, right = figure.subplots(1, 2)
    energy, counts, continuum = xrf_spectrum(rng)
    # lls for counts spanning decades, order 4 for the continuum's hump, smoothing for the counting noise.
    clipped = quorvel.baseline(counts, "snip", max_half_window=30, decreasing=True, smooth_half_window=2, lls=True,
                               filter_order=4)
    left.plot(energy, counts, lw=0.6, color="0.55", label="counts")
    left.plot(energy, continuum, lw=1.0, ls="--", color="k", label="true continuum")
    left.plot(energy, clipped, lw=1.4, color="C3", label="snip (30, order 4, lls)")
    left.set(xlabel="energy (keV)", ylabel="counts", title="X-ray fluorescence: snip")
    left.legend(frameon=False)
    wavenumber, absorbance, background = ir_spectrum(rng)
    hull = quorvel.baseline(absorbance, "rubberband", x=wavenumber)
    right.plot(wavenumber, absorbance, lw=0.8, color="0.45", label="absorbance")
    right.plot(wavenumber, background, lw=1.0, ls="--", color="k", label="true background")
    right.plot(wavenumber, hull, lw=1.4, color="C0", label="rubberband")
    right.set(xlabel="wavenumber (cm⁻¹)", ylabel="absorbance", title="FTIR: rubberband")
    right.invert_xaxis()
    right.legend(frameon=False)
    figure.savefig(png, dpi=110)
    for name, (estimate, truth) in {"snip": (clipped, continuum), "rubberband": (hull, background)}.items():
        print(f"{name}: RMS error {np.sqrt(np.mean((estimate - truth) ** 2)):.4g}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "model-free.png")
