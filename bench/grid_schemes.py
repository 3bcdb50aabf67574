"""The grid schemes on an n x n surface: best of three default fits, and their distance from fits to cg_tol 1e-12.

Usage: python bench/grid_schemes.py 256 [--diff-order=N] [method ...]
"""
import sys
import time

import numpy as np

import quorvel


def surface(n, seed=0):
    """A tilted, curved surface under four bumps, with a little noise."""
    y, x = np.mgrid[0.0:1.0:n * 1j, 0.0:1.0:n * 1j]
    rng = np.random.default_rng(seed)
    bumps = sum(h * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / w) for h, cx, cy, w in
                [(4, 0.3, 0.6, 0.01), (2, 0.7, 0.1, 0.005), (3, 0.5, 0.3, 0.002), (5, 0.8, 0.8, 0.003)])
    return 1.0 + x + 0.5 * y ** 2 + np.sin(2.0 * x) + bumps + 0.05 * rng.standard_normal((n, n))


if __name__ == "__main__":
    flags = [a for a in sys.argv[2:] if a.startswith("--diff-order=")]
    order = int(flags[-1].split("=")[1]) if flags else 2
    methods = [a for a in sys.argv[2:] if a not in flags] or [
        "airpls", "iarpls", "psalsa", "lsrpls", "aspls", "brpls", "iasls", "drpls"]
    n = int(sys.argv[1])
    data = surface(n)
    for m in methods:
        best = np.inf
        for _ in range(3):
            t = time.perf_counter()
            r = quorvel.fit_2d(data, m, diff_order=order)
            best = min(best, time.perf_counter() - t)
        tight = quorvel.fit_2d(data, m, diff_order=order, cg_tol=1e-12)
        err = np.abs(r.baseline - tight.baseline).max() / np.ptp(data)
        print(f"{m:7s} {n}x{n} order {order} best {best:.3f} s, iterations {r.iterations} ({r.outer_iterations}), "
              f"tight {tight.iterations}, off by {err:.1e} of range", flush=True)
