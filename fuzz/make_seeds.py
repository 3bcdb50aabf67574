"""Writes the seed corpora of both fuzzers: python fuzz/make_seeds.py [OUT_DIR]

The core seeds follow fuzz/byte_reader.hpp and the read order of fuzz/core_fuzzer.cpp; the module
seeds follow the Reader of fuzz/module_fuzzer.py. Every run writes the same files.
"""
from __future__ import annotations

import hashlib
import struct
import sys
from pathlib import Path
from typing import Any, Callable, List, Sequence

# Indices into the awkward-value table of ByteReader::real.
NAN, MAX, P001 = 6, 7, 18

# The core fuzzer's first byte: a spectrum or a grid.
FIT_1D, FIT_2D = range(2)

# Function numbers, in the order of module_fuzzer.FUNCTIONS, and its keyword names.
FRONT, BATCH = 0, 6  # correct, baseline, fit, correct_2d, baseline_2d, fit_2d; correct_many ... baseline_2d_many
KEYWORDS = {1: ["half_window", "lam", "lambda", "max_iter", "p", "poly_order", "stop", "tol"],
            2: ["cg_max_iter", "cg_tol", "half_window", "lam", "lambda", "max_iter", "p", "poly_order", "solver",
                "tol"]}


class Bytes:
    """Appends fields in the layout ByteReader reads them."""

    def __init__(self, *head: int) -> None:
        self.data = bytearray(head)

    def u8(self, *values: int) -> Bytes:
        self.data += bytes(v & 0xFF for v in values)
        return self

    def u16(self, value: int) -> Bytes:
        self.data += struct.pack("<H", value)
        return self

    def length(self, n: int) -> Bytes:
        return self.u8(0 if n <= 64 else 255).u16(n)

    def decimal(self, mantissa: int, exponent: int) -> Bytes:
        """mantissa * 10**exponent, mantissa in int16, exponent in [-20, 20]."""
        self.data.append(128)
        self.data += struct.pack("<h", mantissa)
        return self.u8(exponent + 20)

    def injected(self, n: int, at: Sequence[tuple[int, int]]) -> Bytes:
        if n:
            self.u8(len(at))
            for position, index in at:
                self.u16(position).u8(index)
        return self

    def curve(self, n: int, peaks: int = 2, at: Sequence[tuple[int, int]] = ()) -> Bytes:
        """A quadratic background with peaks; `at` puts table values at positions."""
        self.u8(1).decimal(20, -1).decimal(10, -1).decimal(-5, -1).u8(peaks)
        for k in range(peaks if n else 0):
            self.u16((k + 1) * n // (peaks + 1)).decimal(3 + k, 0).u8(2 + n // 40)
        return self.injected(n, at)


def core_seeds() -> List[bytes]:
    """Each method with the defaults on four signals, then with chosen options, a mask and a masked-out NaN."""
    seeds = []
    for kind in range(5):
        for output, n, at in ((0, 200, ()), (1, 3, ()), (1, 300, [(7, NAN)]), (0, 1000, [(500, MAX)])):
            seeds.append(Bytes(FIT_1D, kind, 1, output, 0).length(n).u16(2).curve(3 * n, at=at).u8(0, 0))
        chosen = Bytes(FIT_1D, kind, 0).decimal(1, 4).u16(30).decimal(1, -3).u8(P001).u8(kind == 2)
        chosen.u16(15).u8(1).u16(3).u8(1, 2 + kind % 2).length(60).u16(8).curve(540, peaks=4, at=[(61, NAN)])
        seeds.append(chosen.u8(1).u8(*([0x20] * 68)).u8(1).u16(40))
    for kind in range(4):
        seeds.append(Bytes(FIT_2D, kind, 1, 0, kind % 2).u16(7).u16(9).u16(1).curve(160).u8(0, 0))
        chosen = Bytes(FIT_2D, kind, 0).decimal(1, 3).u8(1).decimal(1, 5).u8(0).u16(5).decimal(1, -3)
        chosen.u16(40).decimal(1, -6).u8(P001).u16(3).u16(5).u8(1).u16(2).u8(1, 1).u16(15).u16(19).u16(1)
        seeds.append(chosen.curve(640, at=[(14, NAN)]).u8(1).u8(*([0x40] * 80)).u8(1))
    return [bytes(seed.data) for seed in seeds]


def module_array(extents: Sequence[int], *, dtype: Sequence[int] = (0,), layout: int = 0,
                 injected: Sequence[tuple[int, int]] = ()) -> List[int]:
    """An array's fields in the order module_fuzzer.array reads them."""
    out: List[int] = []
    for extent in extents:
        out += [1, extent] if extent <= 12 else [0, extent]
    out += [*dtype, layout, 3, len(injected)]
    for at, index in injected:
        out += [at, index]
    return out


def module_call(function: int, extents: Sequence[int], *, method: Sequence[int] = (1, 0), **array: Any) -> bytes:
    """A front-door call without mask or keywords on an array of the function's own dimensionality."""
    return bytes([function, 0, 0, *module_array(extents, **array), *method, 0])


def keyword(ndim: int, name: str, *value: int) -> List[int]:
    return [*value, KEYWORDS[ndim].index(name)]


def front_seeds() -> List[bytes]:
    """The front door's functions with and without a mask and keywords, then the batch functions."""
    own = [("p", 0, 13), ("lam", 0, 14), ("stop", 2, 1), ("half_window", 1, 9), ("poly_order", 1, 7), ("solver", 2, 3)]
    seeds = []
    for k in range(6):  # methods asls, arpls, airpls, rolling_ball, polynomial, asls
        ndim, extents, n = (2, (6, 9), 54) if k >= 3 else (1, (50,), 50)
        head = [FRONT + k, 0, 0, *module_array(extents), 1, k % 5]
        masked = [3, *([1, 0, 3] * n)[:n]]  # every third sample masked out
        seeds.append(bytes(head + [0, 0]))
        seeds.append(bytes(head + masked + [1, *keyword(ndim, *own[k])]))
        seeds.append(bytes(head + [0, 2, *keyword(ndim, "max_iter", 1, 20), *keyword(ndim, "tol", 0, 12)]))
    for k in range(4):
        extents, n = ((3, 6, 9), 162) if k >= 2 else ((4, 50), 200)
        seeds += [bytes([BATCH + k, *module_array(extents), k, 0, workers, 0]) for workers in (1, 2)]
        nan_masked_out = module_array(extents, injected=[(4, NAN)])
        seeds.append(bytes([BATCH + k, *nan_masked_out, 0, 3, *([1, 0, 3] * n)[:n], 1, 0]))
    return seeds


def module_seeds() -> List[bytes]:
    """Every layout, some dtypes and other arguments, with odd method names; then keywords, masks and batches."""
    seeds = []
    for function in (FRONT, FRONT + 1, FRONT + 3, FRONT + 4):  # correct, baseline, correct_2d, baseline_2d
        extents = (50,) if function < FRONT + 3 else (6, 9)
        seeds += [module_call(function, extents, layout=layout, method=(1, layout)) for layout in range(7)]
        seeds += [module_call(function, extents, injected=[(3, index)]) for index in (6, 11)]  # NaN, 1e308
        seeds += [module_call(function, extents, dtype=(192, dtype), layout=1) for dtype in (0, 1, 9)]
        seeds += [module_call(function, extents, method=method) for method in ((1, 14), (5, 2, 0x41, 0xC3), (6, 1))]
        seeds.append(module_call(function, (0,) * len(extents)))
        seeds.append(bytes([function, 0, 192, 3, 1, 2, 1, 2, 1, 2, 0, 0, 3, 0, 1, 0, 0]))  # three dimensions
        seeds += [bytes([function, kind, 3, 2, 0, 1, 0, 0]) for kind in range(10, 16)]  # lists, objects, subclasses
    return sorted(set(seeds + front_seeds()))


def write(directory: Path, seeds: List[bytes]) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("seed-*"):
        old.unlink()
    for seed in seeds:
        (directory / f"seed-{hashlib.sha1(seed).hexdigest()[:16]}").write_bytes(seed)


def main(argv: List[str]) -> None:
    root = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent / "corpus"
    makers: List[tuple[str, Callable[[], List[bytes]]]] = [("core", core_seeds), ("module", module_seeds)]
    for name, make in makers:
        seeds = make()
        write(root / name, seeds)
        print(f"{len(seeds)} seeds in {root / name}")


if __name__ == "__main__":
    main(sys.argv)
