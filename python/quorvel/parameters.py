"""Every method's parameters: names, defaults, meaning and accepted ranges, in one table.

The front door, the batch functions, Dask, scikit-learn and the command line all read this
table, so a parameter is documented and checked in one place. The defaults are those the
native module runs with; passing them explicitly gives exactly the same bits.
"""

from __future__ import annotations

import math
import numbers
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Mapping, Optional, Tuple

__all__ = ["Param", "canonical", "resolve", "methods_taking", "describe", "PARAMS_1D", "PARAMS_2D"]

# Beyond these a call could run for hours; the polynomial caps also keep the normal equations
# meaningful in 64-bit floats.
MAX_ITER_1D = 10_000
MAX_ITER_2D = 1_000
MAX_CG_ITER = 10_000
MAX_POLY_ORDER_1D = 20
MAX_POLY_ORDER_2D = 5
MAX_WINDOW_WORK = 10**11  # samples times window size (window area on grids)

_ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
_ALIASES = {"poly": "polynomial", "rolling-ball": "rolling_ball"}


@dataclass(frozen=True)
class Shape:
    """What the data-dependent checks need: the data's extents and how many samples are used."""

    extents: Tuple[int, ...]
    used: int


@dataclass(frozen=True)
class Param:
    """One keyword parameter: its default, its meaning, and a check that returns the value to use."""

    name: str
    default: Any
    doc: str
    check: Callable[[str, Any, Optional[Shape]], Any]


def _number(name: str, value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    return float(value)


def _integer(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return int(value)


def _out_of_range(name: str, value: Any, accepted: str) -> ValueError:
    return ValueError(f"{name} must be {accepted}; got {value!r}")


def _positive(name: str, value: Any, shape: Optional[Shape]) -> float:
    number = _number(name, value)
    if not (math.isfinite(number) and number > 0.0):
        raise _out_of_range(name, value, "finite and greater than 0")
    return number


def _non_negative(name: str, value: Any, shape: Optional[Shape]) -> float:
    number = _number(name, value)
    if not (math.isfinite(number) and number >= 0.0):
        raise _out_of_range(name, value, "finite and at least 0")
    return number


def _probability(name: str, value: Any, shape: Optional[Shape]) -> float:
    number = _number(name, value)
    if not 0.0 < number < 1.0:
        raise _out_of_range(name, value, "strictly between 0 and 1")
    return number


def _count(limit: int) -> Callable[[str, Any, Optional[Shape]], int]:
    def check(name: str, value: Any, shape: Optional[Shape]) -> int:
        number = _integer(name, value)
        if not 1 <= number <= limit:
            raise _out_of_range(name, value, f"an integer from 1 to {limit}")
        return number

    return check


def _choice(*choices: str) -> Callable[[str, Any, Optional[Shape]], str]:
    def check(name: str, value: Any, shape: Optional[Shape]) -> str:
        if value not in choices:
            raise _out_of_range(name, value, " or ".join(map(repr, choices)))
        return str(value)

    return check


def _per_axis(check: Callable[[str, Any, Optional[Shape]], Any]) -> Callable[[str, Any, Optional[Shape]], Tuple[Any, Any]]:
    """One value for both axes of a grid, or a pair (along axis 0, along axis 1)."""

    def both(name: str, value: Any, shape: Optional[Shape]) -> Tuple[Any, Any]:
        if isinstance(value, (tuple, list)):
            if len(value) != 2:
                raise _out_of_range(name, value, "one value or a pair (axis 0, axis 1)")
            return check(name, value[0], shape), check(name, value[1], shape)
        one = check(name, value, shape)
        return one, one

    return both


def _half_window(dimensions: int, default: int) -> Callable[[str, Any, Optional[Shape]], Any]:
    """Half-widths from 1 to the data's length less one (or the default, which always runs), and a
    window that costs at most a minute or so."""

    def check(name: str, value: Any, shape: Optional[Shape]) -> Any:
        halves: Tuple[int, ...]
        if dimensions == 1:
            halves = (_at_least_one(name, value, shape),)
        else:
            halves = _per_axis(_at_least_one)(name, value, shape)
        if shape is not None:
            _check_window(name, value, halves, shape, default)
        return halves[0] if dimensions == 1 else halves

    return check


def _check_window(name: str, value: Any, halves: Tuple[int, ...], shape: Shape, default: int) -> None:
    work = math.prod(shape.extents)
    for half, extent in zip(halves, shape.extents):
        largest = max(default, extent - 1)
        if half > largest:
            raise _out_of_range(name, value, f"an integer from 1 to {largest} for data of shape {shape.extents}")
        work *= 2 * half + 1
    if work > MAX_WINDOW_WORK:
        window = math.prod(2 * half + 1 for half in halves)
        raise _out_of_range(
            name,
            value,
            f"smaller: a window of {window} samples over data of shape {shape.extents} would take "
            f"{work:.1e} additions (the limit is {MAX_WINDOW_WORK:.0e})",
        )


def _at_least_one(name: str, value: Any, shape: Optional[Shape]) -> int:
    number = _integer(name, value)
    if number < 1:
        raise _out_of_range(name, value, "an integer of at least 1")
    return number


def _poly_order(dimensions: int, cap: int) -> Callable[[str, Any, Optional[Shape]], int]:
    def check(name: str, value: Any, shape: Optional[Shape]) -> int:
        order = _integer(name, value)
        if not 0 <= order <= cap:
            raise _out_of_range(name, value, f"an integer from 0 to {cap}")
        needed = (order + 1) ** dimensions
        if shape is not None and 0 < shape.used < needed:
            raise ValueError(
                f"{name} {order} needs at least {needed} used samples; the data has {shape.used}"
            )
        return order

    return check


_MAX_ITER = "the most reweighting iterations"
_TOL_WEIGHTS = "stop once the relative change of the weights is at most this"

PARAMS_1D: Dict[str, Tuple[Param, ...]] = {}
PARAMS_2D: Dict[str, Tuple[Param, ...]] = {}


def _whittaker_1d(*extra: Param) -> Tuple[Param, ...]:
    return (
        Param("lam", 1e6, "smoothing strength λ of the second-difference penalty (not scaled by length)", _positive),
        *extra,
        Param("max_iter", 50, _MAX_ITER, _count(MAX_ITER_1D)),
        Param("tol", 1e-3, _TOL_WEIGHTS, _non_negative),
    )


_P = Param("p", 0.01, "weight of samples above the baseline; 1 - p below it", _probability)
PARAMS_1D.update(
    asls=_whittaker_1d(_P),
    arpls=_whittaker_1d(),
    airpls=_whittaker_1d()
    + (
        Param(
            "stop",
            "weights",
            "'weights': stop on the relative change of the weights; 'residuals': stop once the negative "
            "residuals sum to at most tol times the sum of |y| (the original airPLS rule)",
            _choice("weights", "residuals"),
        ),
    ),
    rolling_ball=(
        Param("half_window", 15, "half-width h of the window of 2h + 1 samples", _half_window(1, 15)),
    ),
    polynomial=(Param("poly_order", 2, "degree of the least-squares polynomial", _poly_order(1, MAX_POLY_ORDER_1D)),),
)


def _whittaker_2d(*extra: Param) -> Tuple[Param, ...]:
    return (
        Param(
            "lam",
            1e4,
            "smoothing strength λ, or a pair (along axis 0, along axis 1)",
            _per_axis(_positive),
        ),
        *extra,
        Param("max_iter", 50, _MAX_ITER, _count(MAX_ITER_2D)),
        Param("tol", 1e-3, _TOL_WEIGHTS, _positive),
        Param("cg_tol", 1e-6, "relative residual at which each conjugate-gradient solve stops", _positive),
        Param("cg_max_iter", 500, "the most conjugate-gradient steps per solve", _count(MAX_CG_ITER)),
        Param(
            "solver",
            "cg",
            "'cg': a banded Cholesky solve for grids of at most 512 points and 32 columns, plain conjugate "
            "gradients otherwise; 'multigrid': conjugate gradients preconditioned by multigrid, the same "
            "stopping rule in a few dozen steps instead of hundreds (far faster on large grids, other rounding)",
            _choice("cg", "multigrid"),
        ),
    )


PARAMS_2D.update(
    asls=_whittaker_2d(_P),
    arpls=_whittaker_2d(),
    rolling_ball=(
        Param(
            "half_window",
            3,
            "half-width h of the window of 2h + 1 samples per axis, or a pair (axis 0, axis 1)",
            _half_window(2, 3),
        ),
    ),
    polynomial=(
        Param(
            "poly_order",
            2,
            "highest power of each coordinate in the surface's terms",
            _poly_order(2, MAX_POLY_ORDER_2D),
        ),
    ),
)

_TABLES = {1: PARAMS_1D, 2: PARAMS_2D}
_INVALID = {
    1: "invalid parameter method: expected asls, arpls, airpls, rolling_ball, or polynomial",
    2: "invalid parameter method: expected asls, arpls, rolling_ball, or polynomial",
}


def canonical(method: object, ndim: int) -> str:
    """The canonical name of ``method`` for ``ndim``-dimensional data; ASCII case and aliases are ignored."""
    if not isinstance(method, str):
        raise TypeError(f"method must be a str, not {type(method).__name__}")
    name = method.translate(_ASCII_LOWER)
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
    names = [param.name for param in params]
    unknown = [name for name in given if name not in names]
    if unknown:
        listing = ", ".join(names)
        raise TypeError(f"{method} takes no parameter {unknown[0]!r}; its parameters are {listing}")
    return {param.name: param.check(param.name, given.get(param.name, param.default), shape) for param in params}


def describe(ndim: int) -> str:
    """The parameters of every method as a docstring section."""
    lines: List[str] = []
    for method, params in _TABLES[ndim].items():
        lines.append(f"{method}:")
        for param in params:
            lines.append(f"    {param.name}={param.default!r}: {param.doc}")
    return "\n".join(lines)
