"""Draw how the main parameters change a baseline: docs/parameters.png in the README.

    pip install '.[plot]' && python examples/choosing_parameters.py docs/parameters.png

One synthetic spectrum (quorvel.demo's peaks on a curved background, shortened to 400
samples and given a broad band) under arpls with three smoothing strengths and under the
rolling ball with three window sizes, the same spectrum with three dead pixels that
read 0, fitted with and without a mask that leaves them out, and three weighting schemes of
the Whittaker family at one smoothing strength.
"""

import sys

import numpy as np
import numpy.typing as npt
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure

import quorvel
from quorvel.demo import synthetic_spectrum

Array = npt.NDArray[np.float64]


def spectrum() -> Array:
    y, _ = synthetic_spectrum(400)
    x = np.linspace(0.0, 1.0, y.size)
    band: Array = 1.2 * np.exp(-0.5 * ((x - 0.6) / 0.08) ** 2)
    return y + band


def draw(path: str) -> None:
    y = spectrum()
    dead = y.copy()
    dead[[95, 230, 231]] = 0.0
    mask = dead != 0.0
    figure = Figure(figsize=(16.0, 3.6), layout="constrained")
    FigureCanvasAgg(figure)
    lam_axes, window_axes, mask_axes, scheme_axes = figure.subplots(1, 4, sharey=True)
    for axes in (lam_axes, window_axes, scheme_axes):
        axes.plot(y, color="0.6", linewidth=0.8, label="spectrum")
    for lam in (1e2, 1e4, 1e7):
        lam_axes.plot(quorvel.baseline(y, "arpls", lam=lam), linewidth=1.6, label=f"lam = {lam:.0e}")
    lam_axes.set_title('arpls: lam sets the stiffness')
    for half in (5, 25, 80):
        window_axes.plot(quorvel.baseline(y, "rolling_ball", half_window=half), linewidth=1.6,
                         label=f"half_window = {half}")
    window_axes.set_title("rolling_ball: the window must exceed the peaks")
    mask_axes.plot(dead, color="0.6", linewidth=0.8, label="spectrum, 3 dead pixels")
    mask_axes.plot(quorvel.baseline(dead, "asls", lam=1e5), linewidth=1.6, label="asls, no mask")
    mask_axes.plot(quorvel.baseline(dead, "asls", lam=1e5, mask=mask), linewidth=1.6, label="asls, mask=dead != 0")
    mask_axes.set_title("a mask leaves bad samples out")
    for method in ("drpls", "iarpls", "iasls"):
        scheme_axes.plot(quorvel.baseline(y, method, lam=1e4), linewidth=1.6, label=method)
    scheme_axes.set_title("three weighting schemes at lam = 1e4")
    for axes in (lam_axes, window_axes, mask_axes, scheme_axes):
        axes.legend(loc="upper left", frameon=False, fontsize=8)
        axes.set_xlabel("sample")
    figure.savefig(path)


if __name__ == "__main__":
    draw(sys.argv[1] if len(sys.argv) > 1 else "parameters.png")
