"""Correct a synthetic spectrum and a synthetic image with every method and score each baseline.

The spectrum is a few Gaussian peaks on a curved background, the image a few bright
spots on a smooth tilted surface, both with a little noise (fixed seed), so the true
background is known and the error of each estimated baseline can be measured.
"""

from typing import Callable, Iterable, Tuple

import numpy as np
import numpy.typing as npt

import quorvel

Array = npt.NDArray[np.float64]


def synthetic_spectrum(n: int = 1000, seed: int = 0) -> Tuple[Array, Array]:
    x = np.linspace(0.0, 1.0, n)
    background = 1.0 + 2.0 * x - 1.5 * x**2 + 0.5 * np.exp(-3.0 * x)
    peaks = sum(
        height * np.exp(-0.5 * ((x - centre) / width) ** 2)
        for centre, width, height in [(0.2, 0.004, 3.0), (0.45, 0.008, 5.0), (0.7, 0.005, 2.0), (0.85, 0.01, 4.0)]
    )
    noise = np.random.default_rng(seed).normal(0.0, 0.02, n)
    return background + peaks + noise, background


def synthetic_image(rows: int = 128, cols: int = 160, seed: int = 1) -> Tuple[Array, Array]:
    r, c = np.mgrid[0:rows, 0:cols]
    y, x = r / (rows - 1), c / (cols - 1)
    background = 10.0 + 2.0 * x - 1.5 * y + 0.8 * x * y + np.sin(2.0 * x)
    rng = np.random.default_rng(seed)
    spots = sum(
        rng.uniform(4.0, 8.0) * np.exp(-((r - rng.uniform(0, rows)) ** 2 + (c - rng.uniform(0, cols)) ** 2) / 4.0)
        for _ in range(12)
    )
    return background + spots + rng.normal(0.0, 0.05, (rows, cols)), background


def report(
    title: str, methods: Iterable[str], estimate: Callable[[Array, str], Array], data: Array, background: Array
) -> None:
    print(f"{title:<14}{'RMS error of baseline':>24}")
    for method in methods:
        baseline = estimate(data, method)
        print(f"{method:<14}{np.sqrt(np.mean((baseline - background) ** 2)):>24.4f}")
    print()


def main() -> None:
    report("spectrum", quorvel.methods(), quorvel.baseline, *synthetic_spectrum())
    report("image", quorvel.methods_2d(), quorvel.baseline_2d, *synthetic_image())


if __name__ == "__main__":
    main()
