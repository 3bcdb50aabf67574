"""The front door: any array-like in, every parameter by keyword, masks, and whole fit reports.

Without keywords and without a mask the calls go straight to the native module, so they
return exactly its bits; with them they go to the tunable module, which gives the same bits
when the keywords hold the defaults.
"""

from __future__ import annotations

from typing import Any, Callable, Dict, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _native, _tunable, parameters
from .parameters import Shape
from .result import FitResult

Array = npt.NDArray[np.float64]

__all__ = ["baseline", "correct", "fit", "baseline_2d", "correct_2d", "fit_2d", "as_data", "as_mask", "hinted"]

BASELINE, CORRECTED, EVERYTHING = 0, 1, 2
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
_NOUNS = {1: "one-dimensional (a spectrum)", 2: "two-dimensional (an image)"}


def baseline(y: npt.ArrayLike, method: str = "asls", *, mask: Optional[npt.ArrayLike] = None, **params: Any) -> Array:
    """The baseline of a spectrum."""
    return _compute(1, y, method, mask, params, BASELINE)


def correct(y: npt.ArrayLike, method: str = "asls", *, mask: Optional[npt.ArrayLike] = None, **params: Any) -> Array:
    """A spectrum minus its baseline."""
    return _compute(1, y, method, mask, params, CORRECTED)


def fit(y: npt.ArrayLike, method: str = "asls", *, mask: Optional[npt.ArrayLike] = None, **params: Any) -> FitResult:
    """The whole fit of a spectrum: baseline, corrected signal and what happened."""
    return _fit(1, y, method, mask, params)


def baseline_2d(
    data: npt.ArrayLike, method: str = "asls", *, mask: Optional[npt.ArrayLike] = None, **params: Any
) -> Array:
    """The baseline surface of an image."""
    return _compute(2, data, method, mask, params, BASELINE)


def correct_2d(
    data: npt.ArrayLike, method: str = "asls", *, mask: Optional[npt.ArrayLike] = None, **params: Any
) -> Array:
    """An image minus its baseline surface."""
    return _compute(2, data, method, mask, params, CORRECTED)


def fit_2d(
    data: npt.ArrayLike, method: str = "asls", *, mask: Optional[npt.ArrayLike] = None, **params: Any
) -> FitResult:
    """The whole fit of an image: baseline, corrected image and what happened."""
    return _fit(2, data, method, mask, params)


def _compute(ndim: int, data: object, method: str, mask: object, params: Dict[str, Any], want: int) -> Array:
    values = as_data(data, _NAMES[ndim], ndim)
    if not isinstance(method, str):
        raise TypeError(f"method must be a str, not {type(method).__name__}")
    if not params and mask is None and values.size < LARGE and method not in parameters.TUNABLE_ONLY[ndim]:
        try:
            return _NATIVE[ndim, want](values, method)
        except ValueError:
            pass  # the same call through the tunable module raises the same text, with its fields
    result: Array = _Call(ndim, values, method, mask, params, data).run(want)
    return result


def _fit(ndim: int, data: object, method: str, mask: object, params: Dict[str, Any]) -> FitResult:
    call = _Call(ndim, as_data(data, _NAMES[ndim], ndim), method, mask, params, data)
    fitted, corrected, iterations, converged, last_change, changes, weights = call.run(EVERYTHING)
    return FitResult(
        fitted, corrected, call.name, call.resolved, iterations, converged, last_change, changes, weights, call.used
    )


class _Call:
    """One checked call of the tunable module."""

    def __init__(
        self, ndim: int, values: Array, method: str, mask: object, params: Dict[str, Any], source: object
    ) -> None:
        self.ndim, self.values, self.source = ndim, values, source
        self.name = parameters.canonical(method, ndim)
        flags = None if mask is None else as_mask(mask, values.shape)
        self.flags = None if flags is None or flags.all() else flags  # all True: the unmasked fit, bit for bit
        self.used = values.size if self.flags is None else int(np.count_nonzero(self.flags))
        shape = Shape(values.shape, self.used) if values.size else None
        self.resolved = parameters.resolve(self.name, ndim, params, shape)
        needed = parameters.MIN_USED[ndim][self.name]
        if self.flags is not None and self.used < needed:
            raise ValueError(f"mask leaves {self.used} of {values.size} samples; {self.name} needs at least {needed}")

    def run(self, want: int) -> Any:
        """The array asked for, or for EVERYTHING the tuple of the whole fit."""
        args = (self.name, self.resolved, want)
        try:
            if want == EVERYTHING:
                function = _tunable.fit_1d if self.ndim == 1 else _tunable.fit_2d
                return function(self.values, self.flags, *args)
            # One item of the block functions, which fit NumPy's own buffers in place.
            size = self.values.size
            out = np.empty(self.values.shape)
            block = private_rows(self.values, self.source, 1, size)
            masks = None if self.flags is None else np.not_equal(self.flags, False).reshape(1, size)
            if self.ndim == 1:
                failure = _tunable.fit_1d_many(out.reshape(1, size), block, masks, *args)
            else:
                failure = _tunable.fit_2d_many(out.reshape(1, size), block, masks, *args, *self.values.shape)
        except ValueError as error:
            raise hinted(str(error), getattr(error, "index", None), self.values.shape) from None
        if failure is not None:
            raise hinted(failure[1], failure[2], self.values.shape)
        return out


def private_rows(items: Array, source: object, count: int, size: int) -> Array:
    """``items`` as C-contiguous rows that no caller holds: the native code reads them without the lock.

    ``items`` is (a view of) the conversion of ``source``; only a conversion from a Python sequence or
    from another dtype is sure to be new memory, so anything else is copied.
    """
    rows = items.reshape(count, size)
    fresh = isinstance(source, (list, tuple)) or (isinstance(source, np.ndarray) and source.dtype != np.float64)
    if fresh and rows.flags.c_contiguous:
        return rows
    return np.array(rows, order="C", copy=True)


def as_data(value: Any, name: str, ndim: int) -> Array:
    """``value`` as a float64 array of ``ndim`` dimensions (no copy when it already is one)."""
    if type(value) is np.ndarray and value.dtype == np.float64 and value.ndim == ndim:
        return value
    array = as_real(value, name)
    if array.ndim != ndim:
        raise ValueError(f"{name} must be {_NOUNS[ndim]}; got {_describe(value)}")
    return array


def as_real(value: Any, name: str) -> Array:
    """``value`` as a float64 array; complex values are refused rather than cut to their real part."""
    def unconvertible(error: Exception) -> TypeError:
        return TypeError(f"{name} must be an array of real numbers; got {_describe(value)} ({error})")

    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as error:  # ragged nesting, for one
        raise unconvertible(error) from error
    if np.iscomplexobj(array):
        raise TypeError(f"{name} must hold real numbers; got {_describe(value)}")
    try:
        return array.astype(np.float64, copy=False)
    except (TypeError, ValueError) as error:
        raise unconvertible(error) from error


def as_mask(value: object, shape: Tuple[int, ...]) -> npt.NDArray[np.bool_]:
    """``value`` as a boolean array of the data's ``shape``."""
    array = np.asarray(value)
    if array.dtype != np.bool_:
        raise TypeError(f"mask must be a boolean array, True where a sample is used; got {_describe(value)}")
    if array.shape != shape:
        raise ValueError(f"mask must have the data's shape {shape}; got {_describe(value)}")
    return array


def hinted(text: str, index: Optional[int], shape: Tuple[int, ...]) -> ValueError:
    """The error of a fit; for a non-finite sample at flat ``index``, with where it is and how to leave it out."""
    if index is None:
        return ValueError(text)
    where = ""
    if len(shape) == 2 and shape[1]:
        row, column = divmod(index, shape[1])
        where = f" (row {row}, column {column})"
    return ValueError(f"{text}{where}; pass mask= with False there to leave such samples out of the fit")


def _describe(value: object) -> str:
    kind = type(value).__name__
    dtype, shape = getattr(value, "dtype", None), getattr(value, "shape", None)
    if dtype is not None and shape is not None:
        return f"{kind} of dtype {dtype} and shape {tuple(shape)}"
    if isinstance(value, (list, tuple)):
        return f"{kind} of length {len(value)}"
    return kind


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
    {name} - baseline.
**params
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


def _document() -> None:
    indent = "    "
    params = {ndim: "\n".join(indent + line for line in parameters.describe(ndim).splitlines()) for ndim in (1, 2)}
    returns: Dict[Callable[..., Any], str] = {
        baseline: "ndarray\n    The baseline, a new float64 array of the input's shape.",
        correct: "ndarray\n    y - baseline, a new float64 array.",
        fit: "FitResult\n    Baseline, corrected signal, iterations, convergence, per-iteration changes,\n"
        "    final weights and the parameters used.",
        baseline_2d: "ndarray\n    The baseline surface, a new float64 array of the input's shape.",
        correct_2d: "ndarray\n    data - baseline, a new float64 array.",
        fit_2d: "FitResult\n    As for ``fit``.",
    }
    for function, text in returns.items():
        ndim = 2 if function.__name__.endswith("_2d") else 1
        said = f" and {parameters.alias_listing(ndim)} are aliases" if parameters.aliases(ndim) else ""
        function.__doc__ = _DOC.format(
            summary=function.__doc__, params=params[ndim], returns=text, methods=parameters.method_listing(ndim),
            aliases=said, **_DOC_FIELDS[ndim]
        )


_document()
