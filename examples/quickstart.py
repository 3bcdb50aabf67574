"""Correct a synthetic spectrum and a synthetic image with every method and score each baseline.

Both come from ``quorvel.demo``, with a known true background, so the error of each
estimated baseline can be measured. ``quorvel demo --plot demo.png`` draws them.
"""

from typing import Callable, Iterable

import numpy as np
import numpy.typing as npt

import quorvel
from quorvel.demo import rms_error, synthetic_image, synthetic_spectrum

Array = npt.NDArray[np.float64]


def report(
    title: str, methods: Iterable[str], estimate: Callable[[Array, str], Array], data: Array, background: Array
) -> None:
    print(f"{title:<14}{'RMS error of baseline':>24}")
    for method in methods:
        print(f"{method:<14}{rms_error(estimate(data, method), background):>24.4f}")
    print()


def main() -> None:
    report("spectrum", quorvel.methods(), quorvel.baseline, *synthetic_spectrum())
    report("image", quorvel.methods_2d(), quorvel.baseline_2d, *synthetic_image())


if __name__ == "__main__":
    main()
