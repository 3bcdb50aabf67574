"""Figures of a signal, its baseline and the corrected signal, drawn off-screen with Agg.

Figures are built with ``matplotlib.figure.Figure`` directly rather than pyplot, so
nothing touches pyplot's global list of figures or the user's backend choice.
"""

from __future__ import annotations

from typing import BinaryIO, Sequence, Tuple

import numpy as np
import numpy.typing as npt
from matplotlib.axes import Axes
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.colors import Normalize
from matplotlib.figure import Figure, FigureBase

from .demo import Scores

Array = npt.NDArray[np.float64]

__all__ = ["spectrum_figure", "image_figure", "demo_figure", "save_png"]

_SIGNAL = "0.35"
_TRUTH = "black"


def spectrum_figure(
    x: Array, signal: Array, baseline: Array, corrected: Array, title: str, labels: Tuple[str, str] = ("", "")
) -> Figure:
    """The signal with its baseline above, the corrected signal below, on a shared x axis.

    ``labels`` name the x axis and the signal as the data file does, with their units.
    """
    figure = _figure(10.0, 6.5)
    top, bottom = figure.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [3, 2]})
    top.plot(x, signal, color=_SIGNAL, linewidth=0.9, label="signal")
    top.plot(x, baseline, color="tab:red", linewidth=1.8, label="baseline")
    top.legend(loc="upper right", frameon=False)
    bottom.plot(x, corrected, color="tab:blue", linewidth=0.9, label="corrected")
    bottom.axhline(0.0, color="0.6", linewidth=0.7)
    bottom.legend(loc="upper right", frameon=False)
    x_label, y_label = labels
    bottom.set_xlabel(x_label)
    top.set_ylabel(y_label)
    bottom.set_ylabel(y_label)
    _tidy(top)
    _tidy(bottom)
    figure.suptitle(title)
    return figure


def image_figure(data: Array, baseline: Array, corrected: Array, title: str) -> Figure:
    """Data, baseline and corrected image side by side, each with its colour bar."""
    # Near the images' own aspect ratio; very tall or wide grids are stretched to stay legible.
    rows, cols = data.shape
    figure = _figure(13.0, 1.2 + 3.4 * min(max(rows / cols, 0.3), 2.0))
    _image_row(figure, figure.subplots(1, 3), [data, baseline, corrected], ["data", "baseline", "corrected"])
    figure.suptitle(title)
    return figure


def demo_figure(scores: Scores, image_method: str = "arpls") -> Figure:
    """Every method's baseline of the synthetic spectrum, and one method on the synthetic image."""
    figure = _figure(12.0, 10.0)
    rows = figure.add_gridspec(3, 1, height_ratios=[1.0, 0.5, 1.0])
    top, key, bottom = (figure.add_subfigure(rows[k]) for k in range(3))
    spectrum_axes, error_axes = top.subplots(1, 2, gridspec_kw={"width_ratios": [2.2, 1.0]})
    x = np.linspace(0.0, 1.0, scores.spectrum.size)
    spectrum_axes.plot(x, scores.spectrum, color=_SIGNAL, linewidth=0.8, label="spectrum")
    spectrum_axes.plot(
        x, scores.spectrum_background, color=_TRUTH, linewidth=1.6, linestyle="--", label="true background"
    )
    for method, baseline in scores.spectrum_baselines.items():
        label = f"{method}  (RMS {scores.spectrum_error(method):.4f})"
        spectrum_axes.plot(x, baseline, linewidth=1.4, label=label)
        error_axes.plot(x, baseline - scores.spectrum_background, linewidth=1.2)
    # Every method has a line: their key gets a row of its own rather than covering the data.
    key.legend(*spectrum_axes.get_legend_handles_labels(), loc="center", frameon=False, fontsize=8, ncol=5)
    spectrum_axes.set_title("data and the baseline of each method", loc="left")
    error_axes.axhline(0.0, color=_TRUTH, linewidth=0.8, linestyle="--")
    error_axes.set_title("baseline − true background", loc="left")
    for axes in (spectrum_axes, error_axes):
        _tidy(axes)
    top.suptitle("Synthetic spectrum, every method", x=0.01, ha="left", fontweight="bold")
    baseline = scores.image_baselines[image_method]
    images = [scores.image, baseline, scores.image - baseline]
    _image_row(bottom, bottom.subplots(1, 3), images, ["data", "baseline", "corrected"])
    bottom.suptitle(
        f"Synthetic image, {image_method}: RMS error of the baseline {scores.image_error(image_method):.4f}",
        x=0.01,
        ha="left",
        fontweight="bold",
    )
    return figure


def save_png(figure: Figure, stream: BinaryIO) -> None:
    FigureCanvasAgg(figure)
    figure.savefig(stream, format="png", dpi=100, pil_kwargs={"optimize": True})


def _figure(width: float, height: float) -> Figure:
    return Figure(figsize=(width, height), layout="constrained")


def _image_row(figure: FigureBase, axes: Sequence[Axes], images: Sequence[Array], titles: Sequence[str]) -> None:
    """Data, baseline and corrected image; the first two share a colour scale, being in the same units."""
    data, baseline, _ = images
    shared = Normalize(float(min(data.min(), baseline.min())), float(max(data.max(), baseline.max())))
    for ax, values, title, norm in zip(axes, images, titles, [shared, shared, None]):
        picture = ax.imshow(values, cmap="viridis", norm=norm, interpolation="nearest", aspect="auto")
        ax.set_title(title)
        ax.set_xticks([])
        ax.set_yticks([])
        figure.colorbar(picture, ax=ax)


def _tidy(axes: Axes) -> None:
    axes.spines["top"].set_visible(False)
    axes.spines["right"].set_visible(False)
    axes.grid(True, color="0.92", linewidth=0.6)
