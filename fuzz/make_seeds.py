"""Writes the seed corpora of both fuzzers: python fuzz/make_seeds.py [OUT_DIR]

The core seeds follow fuzz/byte_reader.hpp and the read order of each target in fuzz/*_targets.cpp;
the module seeds follow the Reader of fuzz/module_fuzzer.py. Every run writes the same files.
"""
from __future__ import annotations

import hashlib
import math
import struct
import sys
from pathlib import Path
from typing import Callable, List, Sequence

# Indices into the awkward-value table of ByteReader::real.
ZERO, NEG_ZERO, ONE, NEG_ONE, INF, NEG_INF, NAN, MAX = 0, 1, 2, 3, 4, 5, 6, 7
HALF, P001, P099, MILLION = 17, 18, 19, 20

# Target numbers, in the order of quorvel::fuzz::targets.
(DISPATCH_1D, DISPATCH_2D, METHOD_NAMES, PENTA_SOLVE, PENTA_FACTOR, BANDED, DENSE, WHITTAKER_FIT,
 WHITTAKER_WEIGHTS, EXTREMA, ROLLING_BALL, POLYNOMIAL, GRID_ROLLING_BALL, GRID_POLYNOMIAL, GRID_WHITTAKER,
 GRID_WHITTAKER_PARTS, WHITTAKER_MANY, POLYNOMIAL_MASKED, TUNABLE_1D, TUNABLE_2D, GRID_PRECONDITIONED) = range(21)


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

    def u64(self, value: int) -> Bytes:
        self.data += struct.pack("<Q", value % 2 ** 64)
        return self

    def text(self, raw: bytes) -> Bytes:
        self.data += raw
        return self

    def length(self, n: int) -> Bytes:
        return self.u8(0 if n <= 64 else 255).u16(n)

    def table(self, index: int) -> Bytes:
        return self.u8(index)

    def raw(self, value: float) -> Bytes:
        self.data.append(64)
        self.data += struct.pack("<d", value)
        return self

    def decimal(self, mantissa: int, exponent: int) -> Bytes:
        """mantissa * 10**exponent, mantissa in int16, exponent in [-20, 20]."""
        self.data.append(128)
        self.data += struct.pack("<h", mantissa)
        return self.u8(exponent + 20)

    def injected(self, n: int, at: Sequence[tuple[int, int]]) -> Bytes:
        if n:
            self.u8(len(at))
            for position, index in at:
                self.u16(position).table(index)
        return self

    def curve(self, n: int, peaks: int = 2, at: Sequence[tuple[int, int]] = ()) -> Bytes:
        """A quadratic background with peaks; `at` puts table values at positions."""
        self.u8(1).decimal(20, -1).decimal(10, -1).decimal(-5, -1).u8(peaks)
        for k in range(peaks if n else 0):
            self.u16((k + 1) * n // (peaks + 1)).decimal(3 + k, 0).u8(2 + n // 40)
        return self.injected(n, at)

    def constant(self, n: int, index: int) -> Bytes:
        return self.u8(2).table(index).injected(n, ())

    def values(self, numbers: Sequence[float]) -> Bytes:
        self.u8(0)
        for v in numbers:
            self.raw(v)
        return self


def spectrum(n: int, seed: int) -> List[float]:
    """Deterministic test values with a peak, reproducible without NumPy."""
    out = []
    for i in range(n):
        x = i / max(n - 1, 1)
        noise = int.from_bytes(hashlib.sha256(f"{seed}:{i}".encode()).digest()[:2], "little") / 65536.0 - 0.5
        out.append(1.0 + x + 4.0 * math.exp(-(((x - 0.5) / 0.05) ** 2)) + 0.1 * noise)
    return out


def dispatch_seeds() -> List[Bytes]:
    seeds = [Bytes(DISPATCH_1D, 0).length(n).curve(n) for n in (0, 2)]
    for kind in range(7):
        seeds.append(Bytes(DISPATCH_1D, kind).length(300).curve(300))
        seeds.append(Bytes(DISPATCH_1D, kind).length(3).curve(3))
    seeds.append(Bytes(DISPATCH_1D, 1).length(50).curve(50, at=[(7, NAN)]))
    seeds += [Bytes(DISPATCH_1D, kind).length(50).constant(50, MAX) for kind in (0, 3, 4)]
    for kind in range(6):
        seeds.append(Bytes(DISPATCH_2D, kind, 0).u16(8).u16(12).curve(96))
        rows, cols = (16, 16) if kind < 2 else (40, 30)
        seeds.append(Bytes(DISPATCH_2D, kind, 0).u16(rows).u16(cols).curve(rows * cols))
    seeds.append(Bytes(DISPATCH_2D, 0, 0).u16(2).u16(5).curve(10))
    seeds.append(Bytes(DISPATCH_2D, 3, 5).u16(4).u16(4).u16(1).curve(18))
    seeds.append(Bytes(DISPATCH_2D, 2, 7).u16(2).u16(5).u8(1).u16(0).u16(5).curve(5))
    for name in (b"asls", b"ArPLS", b"POLY", b"rolling-ball", b"bogus", b"airpls\0"):
        seeds.append(Bytes(METHOD_NAMES, 0).u16(len(name)).text(name))
    seeds.append(Bytes(METHOD_NAMES, 1, 3).u8(0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0).u8(1).u16(4).u8(0x5F))
    return seeds


def solver_seeds() -> List[Bytes]:
    seeds = []
    for n, lam in ((3, MILLION), (200, MILLION), (2, ONE), (100, NEG_ONE)):
        seeds.append(Bytes(PENTA_SOLVE).u16(8).u8(0).length(n).curve(n).u8(1).constant(n, ONE).u8(1).table(lam))
    seeds.append(Bytes(PENTA_FACTOR).length(99).u8(1).constant(100, ONE).table(MILLION).curve(100))
    seeds.append(Bytes(PENTA_FACTOR).length(9).u8(0).curve(10).curve(9).curve(8).curve(10))
    seeds.append(Bytes(BANDED, 0).length(60).u16(4).curve(300).u8(1, 1, 1).curve(60).u8(1, 1))
    seeds.append(Bytes(DENSE).u16(4).u16(0).values([4, 1, 0, 0, 1, 4, 1, 0, 0, 1, 4, 1, 0, 0, 1, 4]).curve(4))
    for rule in range(3):
        fit = Bytes(WHITTAKER_FIT, rule)
        if rule == 0:
            fit.table(P001)
        seeds.append(fit.length(200).values(spectrum(200, rule)).decimal(1, 4).u16(30).decimal(1, -3)
                     .u16(16).u8(1).u16(20).curve(20).u8(1, 1))
        seeds.append(Bytes(WHITTAKER_WEIGHTS).u16(40).u8(1).curve(40).u8(1).curve(40, peaks=0).u8(1)
                     .constant(40, ONE).u8(1, 0, 0x0F, 0, 0, 0, 0).u16(3).u8(rule).table(P001))
        # Nine spectra through the lanes, one with a NaN, with and without masks and either stop.
        many = Bytes(WHITTAKER_MANY).length(60).u16(9)
        for k in range(9):
            many.curve(60, peaks=k % 3, at=[(30, NAN)] if k == 4 else [])
        seeds.append(many.u8(rule % 2).u8(*([0x10] * 68)).decimal(1, 3).u16(30).decimal(1, -3).u8(rule // 2, rule)
                     .table(P001))
    return seeds


def line_seeds() -> List[Bytes]:
    seeds = [
        Bytes(EXTREMA, 1).length(300).values(spectrum(300, 9)).u16(7),
        Bytes(EXTREMA, 0).u64(5).u64(-3),
        Bytes(ROLLING_BALL).length(300).curve(300).u8(1).u16(15).u16(1).u8(1),
        Bytes(POLYNOMIAL).length(5).curve(5).u16(0).u8(1).u16(0).u8(1).u16(3).curve(3).u16(5),
        Bytes(POLYNOMIAL).length(5).curve(5).u16(0).u8(2).u16(0).u8(1).u16(3).curve(3).u16(5),
    ]
    for order in (0, 2, 7):
        seeds.append(Bytes(POLYNOMIAL).length(100).curve(100).u16(order).u8(0, 1).u16(3).curve(3).u16(50))
    for order, drop in ((2, 0x21), (5, 0x81), (2, 0x00)):
        seeds.append(Bytes(POLYNOMIAL_MASKED).length(100).curve(100).u8(1).u8(*([drop] * 13)).u16(order).u8(1)
                     .u8(*([NAN] * 30)))
    return seeds


def grid_seeds() -> List[Bytes]:
    seeds = [
        Bytes(GRID_ROLLING_BALL).u16(20).u16(30).curve(600).u16(7).u16(7).u8(0, 0).u16(2).u16(3),
        Bytes(GRID_ROLLING_BALL).u16(9).u16(40).curve(360).u16(17).u16(21).u8(1).u16(3).u8(0).u16(1).u16(9),
        Bytes(GRID_POLYNOMIAL).u16(12).u16(10).curve(120).u16(2).u8(1, 0, 1).constant(120, ONE)
        .u16(2).u16(5).u16(6).curve(30).constant(30, ONE).u16(30).u16(1),
    ]
    for asls in (1, 0):
        for rows, cols in ((10, 12), (30, 30)):
            seeds.append(Bytes(GRID_WHITTAKER).u16(rows).u16(cols).curve(rows * cols).u8(0, 0)
                         .decimal(1, 3).u16(5).decimal(1, -3).u16(40).decimal(1, -6)
                         .u8(asls).table(P001).u16(100).table(HALF).u8(1))
    for direct in (1, 0):
        seeds.append(Bytes(GRID_WHITTAKER_PARTS).u16(8).u16(20).curve(160).u8(1).table(ONE).u8(0)
                     .decimal(1, 2).u16(3).decimal(1, -3).u16(30).decimal(1, -6)
                     .constant(160, ONE).curve(160).constant(160, ZERO).u8(direct).table(ONE).table(ONE)
                     .constant(160, HALF).u8(direct).table(P001))
    # A square grid, then a skinny one smoothed far more strongly across its three rows.
    for rows, cols, lambda_rows in ((20, 30, 0), (3, 60, 6)):
        head = Bytes(GRID_PRECONDITIONED).u16(rows).u16(cols).curve(rows * cols)
        head = head.u8(1).decimal(1, lambda_rows) if lambda_rows else head.u8(0)
        seeds.append(head.u8(0).decimal(1, 3).u16(1).decimal(1, -3).u16(40).decimal(1, -6)
                     .constant(rows * cols, ONE).constant(rows * cols, ZERO)
                     .u16(12).u16(8).curve(96).u8(0, 0).decimal(1, 2).u16(1).decimal(1, -3).u16(10).decimal(1, -6))
    return seeds


def core_seeds() -> List[bytes]:
    return [bytes(s.data) for s in dispatch_seeds() + solver_seeds() + line_seeds() + grid_seeds()]


def module_call(function: int, extents: Sequence[int], *, dtype: Sequence[int] = (0,), layout: int = 0,
                injected: Sequence[tuple[int, int]] = (), method: Sequence[int] = (1, 0), form: int = 0) -> bytes:
    """A call of function `function` on an array: the fields in the order module_fuzzer.Reader reads them."""
    out = [function, 0, 0]  # an array of the function's own dimensionality
    for extent in extents:
        out += [1, extent] if extent <= 12 else [0, extent]
    out += [*dtype, layout, 3, len(injected)]
    for at, index in injected:
        out += [at, index]
    return bytes(out + [*method, form])


def module_seeds() -> List[bytes]:
    seeds = []
    for function in range(4):
        extents = (50,) if function < 2 else (6, 9)
        for layout in range(8):
            seeds.append(module_call(function, extents, layout=layout, method=(1, layout % 7)))
        seeds.append(module_call(function, extents, injected=[(3, 11)], method=(1, 4)))  # 1e308
        if function % 2:
            continue
        seeds += [
            module_call(function, extents, method=(0,), form=2),
            module_call(function, extents, method=(4, 8), form=1),
            module_call(function, extents, injected=[(3, 6)]),                # NaN
            module_call(function, (0,) * len(extents)),
            module_call(function, extents, dtype=(192, 1)),                   # float32
            module_call(function, extents, dtype=(192, 0), layout=1),          # byte-swapped, unaligned
            module_call(function, extents, method=(1, 14)),                   # a lone surrogate
            module_call(function, extents, method=(5, 4, 0x41, 0x53, 0xC3, 0x4C)),
            module_call(function, extents, method=(6, 1)),                    # bytes
            bytes([function, 0, 192, 3, 1, 2, 1, 2, 1, 2, 0, 0, 3, 0, 1, 0, 0]),  # three dimensions
            bytes([function, 10, 4, 2, 3, 2, 2, 1, 0, 0]),                    # a list
            bytes([function, 14, 3, 2, 0, 0, 1, 0, 0]),                       # a masked array
            bytes([function, 14, 3, 2, 0, 1, 1, 0, 0]),                       # a matrix
            bytes([function, 14, 3, 2, 0, 2, 1, 0, 0]),                       # an ndarray subclass
            bytes([function, 15, 30, 2, 1, 4, 6, 1, 0, 0]),                   # masked_invalid with a NaN
        ]
    seeds += [module_call(1, (50,), form=form) for form in range(1, 7)]
    seeds += [bytes([4]), bytes([5]), bytes([4, 1, 2]), bytes([5, 2, 0, 0])]
    return sorted(set(seeds))


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
