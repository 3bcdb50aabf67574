"""The front door: any array-like in, every parameter by keyword, masks, and whole fit reports.

Without keywords and without a mask the methods that do not iterate go straight to the native
module, so they return exactly its bits; the others, and every call with keywords, go to the
tunable module, which gives the same bits when the keywords hold the defaults and also says
whether the fit converged (a ConvergenceWarning when it did not).
"""

from __future__ import annotations

from typing import Any, Callable, Dict, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _engine, _native, parameters
from ._arrays import as_data, as_mask, as_out, as_real, private_rows
from ._engine import BASELINE, CORRECTED, EVERYTHING
from .convergence import warn_short_solves, warn_unconverged
from .result import FitResult

Array = npt.NDArray[np.float64]

__all__ = [
    "baseline", "correct", "fit", "baseline_2d", "correct_2d", "fit_2d", "as_data", "as_mask", "as_real", "hinted"
]

_NATIVE: Dict[Tuple[int, int], Callable[[Array, str], Array]] = {
    (1, BASELINE): _native.baseline,
    (1, CORRECTED): _native.correct,
    (2, BASELINE): _native.baseline_2d,
    (2, CORRECTED): _native.correct_2d,
}
_NAMES = {1: "y", 2: "data"}
# From this size on the no-keyword calls go through the tunable module too (same bits): it fits a
# copy made by NumPy into an array made by NumPy, both of which reuse warm memory, where the
# native module's own large buffers are fresh pages on every call.
LARGE = 1 << 16


def baseline(
    y: npt.ArrayLike,
    method: str = "asls",
    *,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """The baseline of a spectrum."""
    return _compute(1, y, method, mask, params, BASELINE, x, None, out)


def correct(
    y: npt.ArrayLike,
    method: str = "asls",
    *,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """A spectrum minus its baseline."""
    return _compute(1, y, method, mask, params, CORRECTED, x, None, out)


def fit(
    y: npt.ArrayLike,
    method: str = "asls",
    *,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> FitResult:
    """The whole fit of a spectrum: baseline, corrected signal and what happened."""
    return _fit(1, y, method, mask, params, (x,))


def baseline_2d(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """The baseline surface of an image."""
    return _compute(2, data, method, mask, params, BASELINE, x, z, out)


def correct_2d(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    out: Optional[Array] = None,
    **params: Any,
) -> Array:
    """An image minus its baseline surface."""
    return _compute(2, data, method, mask, params, CORRECTED, x, z, out)


def fit_2d(
    data: npt.ArrayLike,
    method: str = "asls",
    *,
    mask: Optional[npt.ArrayLike] = None,
    x: Optional[npt.ArrayLike] = None,
    z: Optional[npt.ArrayLike] = None,
    **params: Any,
) -> FitResult:
    """The whole fit of an image: baseline, corrected image and what happened."""
    return _fit(2, data, method, mask, params, (x, z))


Positions = Tuple[object, ...]  # (x,) for spectra, (x, z) for grids


def _compute(
    ndim: int, data: object, method: str, mask: object, params: Dict[str, Any], want: int, x: object, z: object,
    out: object,
) -> Array:
    values = as_data(data, _NAMES[ndim], ndim)
    if not isinstance(method, str):
        raise TypeError(f"method must be a str, not {type(method).__name__}")
    plain = not params and mask is None and out is None and x is None and z is None
    if plain and values.size < LARGE:
        name = parameters.canonical(method, ndim)
        if name not in parameters.TUNABLE_ONLY[ndim] and name not in parameters.ITERATIVE:
            try:
                return _NATIVE[ndim, want](values, name)
            except ValueError:
                pass  # the same call through the tunable module raises the same text, with its fields
    positions = (x,) if ndim == 1 else (x, z)
    call = _Call(ndim, values, method, mask, params, data, positions)
    result: Array = call.run(want, out)
    if call.reports[0, 2] == 0.0:  # a flag to read on every call; the warning's work only when it is down
        call.warn_unconverged()
    if call.reports[0, 3] != 0.0:
        call.warn_short_solves(call.reports[0, 3])
    return result


def _fit(ndim: int, data: object, method: str, mask: object, params: Dict[str, Any], positions: Positions) -> FitResult:
    call = _Call(ndim, as_data(data, _NAMES[ndim], ndim), method, mask, params, data, positions)
    fitted, corrected, iterations, converged, last_change, changes, weights, outer, window, short = call.run(
        EVERYTHING, None)
    if not converged:
        call.warn_unconverged()
    if short:
        call.warn_short_solves(short)
    plan = call.plan
    # A window left to the data is reported as the one the fit used.
    key = "max_half_window" if "max_half_window" in plan.params else "half_window"
    params = plan.params if window is None else {**plan.params, key: window}
    return FitResult(
        fitted, corrected, plan.name, params, iterations, converged, last_change, changes, weights, call.used, outer,
        short,
    )


class _Call:
    """One checked call of the tunable module."""

    def __init__(
        self,
        ndim: int,
        values: Array,
        method: str,
        mask: object,
        params: Dict[str, Any],
        source: object,
        positions: Positions,
    ) -> None:
        self.values, self.inputs = values, (source, values, mask, *positions)
        self.reports = np.empty((1, 4))  # iterations, last change, converged, short solves: by every block call
        name = parameters.canonical(method, ndim)
        flags = None if mask is None else as_mask(mask, values.shape)
        self.flags = None if flags is None or flags.all() else flags  # all True: the unmasked fit, bit for bit
        self.used = values.size if self.flags is None else int(np.count_nonzero(self.flags))
        self.plan = _engine.plan(ndim, name, params, values.shape, self.used if values.size else None, *positions)
        self.on_x = ndim == 1 and self.plan.x is not None
        needed = parameters.MIN_USED[ndim][name]
        if self.flags is not None and self.used < needed:
            raise ValueError(f"mask leaves {self.used} of {values.size} samples; {name} needs at least {needed}")

    def run(self, want: int, out: object) -> Any:
        """The array asked for (written into ``out`` when given), or for EVERYTHING the tuple of the whole fit."""
        shape, size = self.values.shape, self.values.size
        try:
            if want == EVERYTHING:
                return self.plan.run_whole(self.values, self.flags)
            # One item of the block functions, which fit NumPy's own buffers in place.
            target = np.empty(shape) if out is None else as_out(out, shape, self.inputs)
            block = private_rows(self.values, self.inputs[0], 1, size)
            masks = None if self.flags is None else np.not_equal(self.flags, False).reshape(1, size)
            failure = self.plan.run_block(target.reshape(1, size), block, masks, want, self.reports)
        except ValueError as error:
            raise hinted(str(error), getattr(error, "index", None), shape, self.plan.name, self.on_x) from None
        if failure is not None:
            raise hinted(failure[1], failure[2], shape, self.plan.name, self.on_x)
        return target


    def warn_unconverged(self) -> None:
        """The ConvergenceWarning of a fit that did not converge, at the caller of the public function."""
        warn_unconverged(np.zeros(1, bool), self.plan.ndim, self.plan.name, self.plan.params, stacklevel=4)

    def warn_short_solves(self, short: float) -> None:
        """The ConvergenceWarning of a fit whose linear solves stopped short, at the caller of the public function."""
        warn_short_solves(np.full(1, int(short)), self.plan.ndim, self.plan.params, stacklevel=4)


# Methods whose weights go as 1/|residual|, so that lam's weight against them grows with the data's scale.
_WEIGHTS_SHRINK_WITH_SCALE = frozenset({"irsqr"})


def hinted(text: str, index: Optional[int], shape: Tuple[int, ...], method: str, on_x: bool = False) -> ValueError:
    """The error of a fit in words a user can act on: for a non-finite sample at flat ``index``, where it is and
    how to leave it out; for a solve that the weights left singular, why and what to change (``on_x``: a
    Whittaker fit on given positions, whose uneven steps can stiffen the penalty past what the solve holds)."""
    # The native module's texts name the family and the solver; the tunable fronts name the method.
    text = text.replace("is too short for whittaker", f"is too short for {method}")
    if text.startswith("linear solve failed") and method in _WEIGHTS_SHRINK_WITH_SCALE:
        return ValueError(f"{method} could not fit this input: {text}. Its weights shrink as the data grow, so on "
                          "values this large lam swamps them; divide the data by their scale (or lower lam)")
    if text.startswith("linear solve failed") and on_x and method in parameters.WHITTAKER:
        return ValueError(f"{method} could not fit this input: {text}. On x whose steps differ by orders of "
                          "magnitude the penalty grows stiff where they are short, and at this lam the solve "
                          "fails; lower lam, or resample x more evenly")
    if text.startswith("linear solve failed"):
        return ValueError(f"{method} could not fit this input: {text}. Its weights left too few samples to pin "
                          "down the baseline, which happens on very short inputs; give it more samples, a lower "
                          "diff_order, or a method that keeps a weight on every sample (asls)")
    if index is None:
        return ValueError(text)
    where = ""
    if len(shape) == 2 and shape[1]:
        row, column = divmod(index, shape[1])
        where = f" (row {row}, column {column})"
    return ValueError(f"{text}{where}; pass mask= with False there to leave such samples out of the fit")


_DOC = """{summary}

Parameters
----------
{name} : array_like
    {what}: anything NumPy converts to float64 (lists, float32, integers, pandas Series).
method : str
    {methods}; ASCII case is ignored{aliases}.
mask : array_like of bool, optional
    True where a sample is used, of the data's shape. Masked-out samples may hold NaN or infinity;
    they take no part in the fit, the baseline still covers them, and the corrected value there is
    {name} - baseline. The {bridged} read every sample: they first fill each gap with the straight line
    between its nearest used neighbours{grid_fill}, and fit the filled data (an estimated window
    too).
{extra}**params
    Each method's own parameters, by keyword; any other keyword is a TypeError. Defaults:

{params}

Returns
-------
{returns}

Raises
------
TypeError
    ``{name}`` cannot be converted to float64, a parameter has the wrong type, or the method takes no
    such keyword.
ValueError
    An unknown method, a parameter out of range (the message gives the accepted range), a mask that
    leaves too few samples, or data the method cannot fit (empty, too short, NaN or infinity where used).
"""
_DOC_FIELDS = {1: {"name": "y", "what": "The spectrum"}, 2: {"name": "data", "what": "The image or surface, two-dimensional"}}


_X_DOC = """x : array_like, optional
    The sample positions, one per sample, strictly increasing or decreasing (wavenumbers, say).
    The methods that use it ({uses}) fit on it; the others check x and ignore it. Without x the
    samples are evenly spaced. The Whittaker methods ({whittaker}) honour an uneven x: their penalty
    takes Eilers' divided differences (Anal. Chem. 75 (2003) 3631) of x in units of its mean step, so
    lam keeps its meaning, while their weight rules (derpsalsa's derivative screen too) stay on the
    sample index; an x whose steps all lie within 0.1 % of their mean counts as even and gives the
    bits of a fit without it. The others fit
    on x mapped onto [-1, 1].
"""
_XZ_DOC = """x, z : array_like, optional
    The sample positions along axis 0 (x, one per row) and axis 1 (z, one per column), each strictly
    increasing or decreasing. The methods that use them ({uses}) fit on them; the others check them
    and ignore them. An axis without positions is evenly spaced. The Whittaker methods ({whittaker})
    honour uneven axes: the penalty along each axis takes Eilers' divided differences of its positions
    in units of their mean step, while the weight rules stay on the grid's index; an axis whose steps
    all lie within 0.1 % of their mean counts as even and keeps the bits of a fit without it. The
    others fit on the positions mapped onto [-1, 1].
"""
_OUT_DOC = """out : ndarray, optional
    Where the result goes: a C-contiguous float64 array of the input's shape, sharing no memory with
    the input, its mask or its positions. It is written in place and returned.
"""


def _document() -> None:
    indent = "    "
    uses = {ndim: parameters.listing(sorted(parameters.USES_X[ndim]), "and") for ndim in (1, 2)}
    whittaker = {ndim: parameters.listing(sorted(parameters.WHITTAKER & parameters.USES_X[ndim]), "and")
                 for ndim in (1, 2)}
    bridged = {ndim: parameters.listing([m for m in parameters.method_names(ndim) if m in parameters.BRIDGED], "and")
               for ndim in (1, 2)}
    params = {ndim: "\n".join(indent + line for line in parameters.describe(ndim).splitlines()) for ndim in (1, 2)}
    returns: Dict[Callable[..., Any], str] = {
        baseline: "ndarray\n    The baseline, a new float64 array of the input's shape (or ``out``).",
        correct: "ndarray\n    y - baseline, a new float64 array (or ``out``).",
        fit: "FitResult\n    Baseline, corrected signal, iterations, convergence, per-iteration changes,\n"
        "    final weights and the parameters used.",
        baseline_2d: "ndarray\n    The baseline surface, a new float64 array of the input's shape (or ``out``).",
        correct_2d: "ndarray\n    data - baseline, a new float64 array (or ``out``).",
        fit_2d: "FitResult\n    As for ``fit``.",
    }
    for function, text in returns.items():
        ndim = 2 if function.__name__.endswith("_2d") else 1
        said = f" and {parameters.alias_listing(ndim)} are aliases" if parameters.aliases(ndim) else ""
        extra = (_X_DOC if ndim == 1 else _XZ_DOC).format(uses=uses[ndim], whittaker=whittaker[ndim])
        extra += "" if function in (fit, fit_2d) else _OUT_DOC
        function.__doc__ = _DOC.format(
            summary=function.__doc__, params=params[ndim], returns=text, methods=parameters.method_listing(ndim),
            aliases=said, extra=extra, bridged=bridged[ndim],
            grid_fill="" if ndim == 1 else " (along the rows, then down the columns for rows with none)",
            **_DOC_FIELDS[ndim]
        )


_document()
