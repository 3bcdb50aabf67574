"""Correct a synthetic Raman-like spectrum with every method and score each baseline.

The spectrum is a few Gaussian peaks on a curved background with a little noise
(fixed seed), so the true background is known and the error of each estimated
baseline can be measured.
"""

import numpy as np

import quorvel


def synthetic_spectrum(n=1000, seed=0):
    x = np.linspace(0.0, 1.0, n)
    background = 1.0 + 2.0 * x - 1.5 * x**2 + 0.5 * np.exp(-3.0 * x)
    peaks = sum(
        height * np.exp(-0.5 * ((x - centre) / width) ** 2)
        for centre, width, height in [(0.2, 0.004, 3.0), (0.45, 0.008, 5.0), (0.7, 0.005, 2.0), (0.85, 0.01, 4.0)]
    )
    noise = np.random.default_rng(seed).normal(0.0, 0.02, n)
    return background + peaks + noise, background


def main():
    y, background = synthetic_spectrum()
    print(f"{'method':<14}{'RMS error of baseline':>24}")
    for method in quorvel.methods():
        estimate = quorvel.baseline(y, method)
        corrected = quorvel.correct(y, method)
        assert np.allclose(corrected + estimate, y)
        rms = np.sqrt(np.mean((estimate - background) ** 2))
        print(f"{method:<14}{rms:>24.4f}")


if __name__ == "__main__":
    main()
