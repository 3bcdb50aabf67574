"""Every method's parameters: names, defaults, meaning and accepted ranges, from the core's catalogue.

The front door, the batch functions, Dask, scikit-learn and the command line all read these
tables, so a parameter is documented and checked in one place. The defaults are those the
native module runs with; passing them explicitly gives exactly the same bits.
"""

from __future__ import annotations

import math
import numbers
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Set, Tuple

import numpy as np

from . import _tunable

__all__ = ["Param", "canonical", "resolve", "methods_taking", "method_names", "describe", "PARAMS_1D", "PARAMS_2D"]

# A window whose work exceeds this (samples times window size, window area on grids) could run for
# an hour or more.
MAX_WINDOW_WORK = 10**11

_ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


@dataclass(frozen=True)
class Shape:
    """What the data-dependent checks need: the data's extents and how many samples are used."""

    extents: Tuple[int, ...]
    used: int


Check = Callable[[str, Any, Optional[Shape]], Any]


@dataclass(frozen=True)
class Param:
    """One keyword parameter: its default, its meaning, and a check that returns the value to use."""

    name: str
    default: Any
    doc: str
    check: Check
    kind: str = "real"  # real, integer, choice, flag, samples (an array of one value per sample), or points
    per_axis: bool = False  # on grids: one value or a pair (axis 0, axis 1)
    needs_data: bool = False  # its check reads the data's shape, so even its default is checked per call


def _number(name: str, value: Any) -> float:
    if type(value) is float:  # the common case, without the abstract base class's check
        return value
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    return float(value)


def _integer(name: str, value: Any) -> int:
    if type(value) is int:
        return value
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return int(value)


def _out_of_range(name: str, value: Any, accepted: str) -> ValueError:
    return ValueError(f"{name} must be {accepted}; got {value!r}")


def _choice(*choices: str) -> Check:
    def check(name: str, value: Any, shape: Optional[Shape]) -> str:
        if value not in choices:
            raise _out_of_range(name, value, " or ".join(map(repr, choices)))
        return str(value)

    return check


def _per_axis(check: Check) -> Callable[[str, Any, Optional[Shape]], Tuple[Any, Any]]:
    """One value for both axes of a grid, or a pair (along axis 0, along axis 1)."""

    def both(name: str, value: Any, shape: Optional[Shape]) -> Tuple[Any, Any]:
        if isinstance(value, (tuple, list)):
            if len(value) != 2:
                raise _out_of_range(name, value, "one value or a pair (axis 0, axis 1)")
            return check(name, value[0], shape), check(name, value[1], shape)
        one = check(name, value, shape)
        return one, one

    return both


def _half_window(dimensions: int, default: int, each: Check, pairs: bool = False, costed: bool = True) -> Check:
    """Half-widths in ``each``'s range and up to the data's length less one (or the default, which always
    runs), and where the method's cost grows with the window (``costed``), a window that costs at most a minute
    or so. With ``pairs`` spectra take a pair too (left, right)."""

    def check(name: str, value: Any, shape: Optional[Shape]) -> Any:
        halves: Tuple[int, ...]
        paired = dimensions == 2 or (pairs and isinstance(value, (tuple, list)))
        halves = _per_axis(each)(name, value, shape) if paired else (each(name, value, shape),)
        if shape is not None:
            _check_window(name, value, (max(halves),) if dimensions == 1 else halves, shape, default, costed)
        return halves if paired else halves[0]

    return check


def _check_window(name: str, value: Any, halves: Tuple[int, ...], shape: Shape, default: int, costed: bool) -> None:
    work = math.prod(shape.extents)
    for half, extent in zip(halves, shape.extents):
        largest = max(default, extent - 1)
        if half > largest:
            raise _out_of_range(name, value, f"an integer from 1 to {largest} for data of shape {shape.extents}")
        work *= 2 * half + 1
    if costed and work > MAX_WINDOW_WORK:
        window = math.prod(2 * half + 1 for half in halves)
        raise _out_of_range(
            name,
            value,
            f"smaller: a window of {window} samples over data of shape {shape.extents} would take "
            f"{work:.1e} additions (the limit is {MAX_WINDOW_WORK:.0e})",
        )


def _poly_order(dimensions: int, each: Check, pairs: bool = False) -> Check:
    """An order in ``each``'s range that the used samples can support; with ``pairs`` a grid's may be a pair
    (along axis 0, along axis 1), and its full surface of (a + 1)(b + 1) terms is what the check asks for."""
    per_axis = _per_axis(each)

    def check(name: str, value: Any, shape: Optional[Shape]) -> Any:
        if pairs and dimensions == 2:
            orders: Any = per_axis(name, value, shape)
            needed = (orders[0] + 1) * (orders[1] + 1)
            order_text = f"{orders}" if orders[0] != orders[1] else f"{orders[0]}"
        else:
            orders = each(name, value, shape)
            needed, order_text = (orders + 1) ** dimensions, f"{orders}"
        if shape is not None and 0 < shape.used < needed:
            raise ValueError(f"{name} {order_text} needs at least {needed} used samples; the data has {shape.used}")
        return orders

    return check


def _range_text(kind: str, lower: float, upper: float, lower_open: bool, upper_open: bool) -> str:
    """The accepted range in words, as the messages of the range checks give it."""
    if kind == "integer":
        first = int(lower) + (1 if lower_open else 0)
        if math.isinf(upper):
            return f"an integer of at least {first}"
        return f"an integer from {first} to {int(upper) - (1 if upper_open else 0)}"
    if math.isinf(upper):
        return f"finite and {'greater than' if lower_open else 'at least'} {lower:g}"
    if lower_open and upper_open:
        return f"strictly between {lower:g} and {upper:g}"
    return f"from {lower:g} to {upper:g}"


def _in_range(number: float, lower: float, upper: float, lower_open: bool, upper_open: bool) -> bool:
    above = number > lower if lower_open else number >= lower
    below = number < upper if upper_open else number <= upper
    return math.isfinite(number) and above and below


def _ranged(row: Mapping[str, Any]) -> Check:
    kind = row["kind"]
    bounds = (*row["range"], *row["open"])
    accepted = _range_text(kind, *bounds)

    def check(name: str, value: Any, shape: Optional[Shape]) -> Any:
        number: Any = _integer(name, value) if kind == "integer" else _number(name, value)
        if not _in_range(number, *bounds):
            raise _out_of_range(name, value, accepted)
        return number

    return check


def _private_array(name: str, value: Any, what: str) -> Any:
    """A C-contiguous float64 copy of ``value``, an array of ``what``."""
    try:
        return np.array(value, dtype=np.float64, order="C")
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be None or an array of {what}, not {type(value).__name__}") from None


def _samples(row: Mapping[str, Any], ndim: int) -> Check:
    """None, or an array of the data's shape whose every value is in the catalogue's range. The check
    returns a private, read-only float64 copy, so that no other thread can change it while a fit reads it."""
    bounds = (*row["range"], *row["open"])
    accepted = _range_text("real", *bounds) + " at every sample"

    def check(name: str, value: Any, shape: Optional[Shape]) -> Any:
        if value is None:
            return None
        array = _private_array(name, value, "real numbers")
        expected = shape.extents if shape is not None else None
        if array.ndim != ndim or (expected is not None and array.shape != tuple(expected)):
            wanted = f"the data's shape {tuple(expected)}" if expected is not None else f"{ndim} dimension(s)"
            raise ValueError(f"{name} must have {wanted}; got shape {array.shape}")
        lower, upper, lower_open, upper_open = bounds
        outside = ~np.isfinite(array) | ((array <= lower) if lower_open else (array < lower))
        outside |= (array >= upper) if upper_open else (array > upper)
        if outside.any():
            index = np.unravel_index(int(np.argmax(outside)), array.shape)
            at = index[0] if ndim == 1 else index
            raise ValueError(f"{name} must be {accepted}; got {float(array[index])!r} at sample {at}")
        array.flags.writeable = False
        return array

    return check


def _points(name: str, value: Any, shape: Optional[Shape]) -> Any:
    """None, or at least one finite (x, y) pair as an array of shape (L, 2), returned as a private, read-only
    float64 copy."""
    if value is None:
        return None
    array = _private_array(name, value, "(x, y) pairs")
    if array.ndim != 2 or array.shape[1] != 2 or array.shape[0] == 0:
        raise ValueError(f"{name} must be an array of at least one (x, y) pair, of shape (L, 2); got shape "
                         f"{array.shape}")
    if not np.isfinite(array).all():
        point = int(np.argmax(~np.isfinite(array).all(axis=1)))
        raise ValueError(f"{name} must be finite; got {tuple(array[point])!r} at point {point}")
    array.flags.writeable = False
    return array


def _flag(name: str, value: Any, shape: Optional[Shape]) -> bool:
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{name} must be True or False, not {type(value).__name__}")


def _or_none(check: Check) -> Check:
    """None, which lets the data decide, or a value that passes ``check``."""

    def either(name: str, value: Any, shape: Optional[Shape]) -> Any:
        return None if value is None else check(name, value, shape)

    return either


def _check_of(row: Mapping[str, Any], ndim: int) -> Check:
    """The check of one catalogue parameter in ``ndim`` dimensions."""
    if row["kind"] == "choice":
        return _choice(*row["choices"])
    if row["kind"] == "samples":
        return _samples(row, ndim)
    if row["kind"] == "flag":
        return _flag
    if row["kind"] == "points":
        return _points
    check = _ranged(row)
    if row["data_check"] in ("window", "extent"):
        costed = row["data_check"] == "window"
        check = _half_window(ndim, row["default"] or 1, check, pairs=row["per_axis"], costed=costed)
    elif row["data_check"] == "poly_order":
        check = _poly_order(ndim, check, pairs=row["per_axis"])
    elif ndim == 2 and row["per_axis"]:
        check = _per_axis(check)
    return _or_none(check) if row["default"] is None else check


def _params_of(rows: Sequence[Mapping[str, Any]], ndim: int) -> Tuple[Param, ...]:
    return tuple(
        Param(row["name"], row["default"], row["meaning"], _check_of(row, ndim), row["kind"], row["per_axis"],
              row["data_check"] != "none" or row["kind"] == "samples")
        for row in rows
    )


_CATALOGUE = _tunable.catalogue()
PARAMS_1D: Dict[str, Tuple[Param, ...]] = {}
PARAMS_2D: Dict[str, Tuple[Param, ...]] = {}
_TABLES = {1: PARAMS_1D, 2: PARAMS_2D}
_ALIASES: Dict[str, str] = {alias: row["name"] for row in _CATALOGUE for alias in row["aliases"]}
# The publication each method follows.
REFERENCES: Dict[str, str] = {row["name"]: row["reference"] for row in _CATALOGUE}
# The fewest used samples each method needs when a mask leaves some out.
MIN_USED: Dict[int, Dict[str, int]] = {1: {}, 2: {}}
# The spellings of the methods that the fixed-default module does not serve.
TUNABLE_ONLY: Dict[int, Set[str]] = {1: set(), 2: set()}
# The methods that fit on the caller's sample positions x; the others check x and ignore it.
USES_X: Dict[int, Set[str]] = {1: set(), 2: set()}
# The Whittaker methods, whose penalty takes divided differences on an uneven x.
WHITTAKER: Set[str] = {_row["name"] for _row in _CATALOGUE if _row["family"] == "whittaker"}
# The methods that reweight until a stop rule holds, and so can stop at max_iter without it.
ITERATIVE: Set[str] = {_row["name"] for _row in _CATALOGUE if _row["family"] in ("whittaker", "pspline")}
# The methods that read every sample, so that a mask's gaps are first filled with straight lines.
BRIDGED: Set[str] = {_row["name"] for _row in _CATALOGUE if _row["family"] in ("morphology", "smoothing")}
for _row in _CATALOGUE:
    for _ndim, _dimension in _row["dims"].items():
        if _dimension is not None:
            _TABLES[_ndim][_row["name"]] = _params_of(_dimension["parameters"], _ndim)
            MIN_USED[_ndim][_row["name"]] = _dimension["min_used"]
            if not _dimension["fixed"]:
                TUNABLE_ONLY[_ndim].update([_row["name"], *_row["aliases"]])
            if _dimension["uses_x"]:
                USES_X[_ndim].add(_row["name"])


def method_names(ndim: int) -> List[str]:
    """The canonical names of the methods for ``ndim``-dimensional data, in the catalogue's order."""
    return list(_TABLES[ndim])


def aliases(ndim: Optional[int] = None) -> List[str]:
    """The other names that methods for ``ndim``-dimensional data (default: any) answer to."""
    return [alias for alias, name in _ALIASES.items() if ndim is None or name in _TABLES[ndim]]


def method_listing(ndim: int) -> str:
    """``asls (default), arpls, ...``: the methods for ``ndim``-dimensional data, for help texts."""
    names = method_names(ndim)
    return listing([f"{names[0]} (default)", *names[1:]])


def alias_listing(ndim: Optional[int] = None) -> str:
    """``'a' and 'b'``: the aliases of the methods for ``ndim``-dimensional data (default: any)."""
    return listing([repr(alias) for alias in aliases(ndim)], "and")


def listing(names: Sequence[str], last: str = "or") -> str:
    """``a``, ``a or b``, ``a, b, or c``."""
    if len(names) < 3:
        return f" {last} ".join(names)
    return f"{', '.join(names[:-1])}, {last} {names[-1]}"


_INVALID = {ndim: f"invalid parameter method: expected {listing(method_names(ndim))}" for ndim in (1, 2)}


def canonical(method: object, ndim: int) -> str:
    """The canonical name of ``method`` for ``ndim``-dimensional data; ASCII case and aliases are ignored."""
    if type(method) is str and method in _TABLES[ndim]:
        return method  # already canonical, as most calls give it
    if not isinstance(method, str):
        raise TypeError(f"method must be a str, not {type(method).__name__}")
    name: str = method.translate(_ASCII_LOWER)
    name = _ALIASES.get(name, name)
    if name not in _TABLES[ndim]:
        raise ValueError(_INVALID[ndim])
    return name


def methods_taking(ndim: int) -> Mapping[str, Tuple[Param, ...]]:
    """The parameters of every method for ``ndim``-dimensional data."""
    return _TABLES[ndim]


def resolve(method: str, ndim: int, given: Mapping[str, Any], shape: Optional[Shape] = None) -> Dict[str, Any]:
    """Every parameter of ``method`` (a canonical name), checked, with defaults for the ones not given.

    Without ``shape`` the checks that depend on the data are left for later.
    """
    params = _TABLES[ndim][method]
    resolved = dict(_CHECKED_DEFAULTS[ndim][method])
    for name in given:
        if name not in resolved:
            names = ", ".join(param.name for param in params)
            raise TypeError(f"{method} takes no parameter {name!r}; its parameters are {names}")
    for param in params:
        if param.name in given or param.needs_data:
            resolved[param.name] = param.check(param.name, given.get(param.name, param.default), shape)
    return resolved


# Each method's defaults, checked once: a call re-checks only what it gives and what depends on the data.
_CHECKED_DEFAULTS: Dict[int, Dict[str, Dict[str, Any]]] = {
    ndim: {method: {param.name: param.check(param.name, param.default, None) for param in params}
           for method, params in table.items()}
    for ndim, table in _TABLES.items()
}


def describe(ndim: int) -> str:
    """The parameters of every method as a docstring section."""
    lines: List[str] = []
    for method, params in _TABLES[ndim].items():
        lines.append(f"{method} ({REFERENCES[method]}):")
        for param in params:
            lines.append(f"    {param.name}={param.default!r}: {param.doc}")
    return "\n".join(lines)
