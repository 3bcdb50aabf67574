"""Synthetic spectra and images that every library in a run is timed on.

Peak widths are in samples (pixels), as a detector sees them: a longer spectrum
carries more peaks, not wider ones, so each size looks like a real measurement at
that resolution and the reweighting loops face comparable work per sample.
"""

import numpy as np

SEED = 20_251_206


def spectrum(n, seed=SEED):
    """Gaussian and Lorentzian peaks on a curved background, with noise."""
    rng = np.random.default_rng([seed, n])
    x = np.linspace(0.0, 1.0, n)
    data = 40.0 + 25.0 * x - 30.0 * x**2 + 12.0 * np.exp(-4.0 * x) + 3.0 * np.sin(3.0 * np.pi * x)
    count = max(6, n // 400)
    centres = rng.uniform(0.0, n, count)
    widths = rng.uniform(2.0, 25.0, count)
    heights = rng.lognormal(2.0, 0.8, count)
    lorentzian = rng.random(count) < 0.5
    for centre, width, height, is_lorentzian in zip(centres, widths, heights, lorentzian):
        # Evaluating each peak only where it is visible keeps a 10^6-sample spectrum cheap;
        # a Lorentzian's tail is cut at 1/3600 of its height.
        reach = int((60.0 if is_lorentzian else 8.0) * width) + 1
        lo, hi = max(0, int(centre) - reach), min(n, int(centre) + reach + 1)
        t = (np.arange(lo, hi) - centre) / width
        data[lo:hi] += height * (1.0 / (1.0 + t * t) if is_lorentzian else np.exp(-0.5 * t * t))
    return data + rng.normal(0.0, 0.3, n)


def image(side, seed=SEED):
    """Bright Gaussian spots on a smooth tilted, curved surface, with noise."""
    rng = np.random.default_rng([seed, side, side])
    u = np.linspace(0.0, 1.0, side)
    y, x = u[:, None], u[None, :]
    data = 10.0 + 2.0 * x - 1.5 * y + 0.8 * x * y + np.sin(2.0 * x) + 0.6 * np.cos(3.0 * y)
    data = data + np.zeros((side, side))
    for _ in range(max(8, side * side // 800)):
        r, c = rng.uniform(0.0, side, 2)
        sigma = rng.uniform(1.0, 4.0)
        height = rng.uniform(2.0, 8.0)
        reach = int(4.0 * sigma) + 1
        r0, r1 = max(0, int(r) - reach), min(side, int(r) + reach + 1)
        c0, c1 = max(0, int(c) - reach), min(side, int(c) + reach + 1)
        dr = (np.arange(r0, r1) - r)[:, None]
        dc = (np.arange(c0, c1) - c)[None, :]
        data[r0:r1, c0:c1] += height * np.exp(-(dr * dr + dc * dc) / (2.0 * sigma * sigma))
    return data + rng.normal(0.0, 0.05, (side, side))
