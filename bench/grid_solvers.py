"""Grid asls and arpls: quorvel's solvers against a tightly solved fit and pybaselines.

Runs the C++ harness bench/grid_solvers.cpp (configure with -DQUORVEL_BENCH=ON) on the
images of inputs.py and prints one Markdown table: time (median of the fits timed inside the
harness; pybaselines' median call), outer iterations, inner steps per solve, and each
baseline's distance from the reference fit, whose every solve is converged to a relative
residual of 1e-12. With --direct the reference is checked against the same
fit solved by scipy.sparse's direct solver.

    python bench/grid_solvers.py --harness BUILD/grid_solvers [--sizes 512 1024] [--cg-up-to 512] [--direct]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy.sparse
import scipy.sparse.linalg

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from inputs import image  # noqa: E402

try:
    import pybaselines
except ImportError:  # pragma: no cover - optional peer
    pybaselines = None

LAM, P, MAX_ITER, TOL = 1e4, 0.01, 50, 1e-3
METHODS = ("asls", "arpls")


def run_harness(harness, path, side, method, solver, cg_tol, cg_max_iter):
    """One fit by the harness: (its JSON report, the baseline)."""
    out = path + f".{method}.{solver}.out"
    done = subprocess.run([harness, path, str(side), str(side), method, solver, str(cg_tol), str(cg_max_iter), out],
                          check=True, capture_output=True, text=True)
    report = json.loads(done.stdout)
    baseline = np.fromfile(out, dtype=np.float64).reshape(side, side)
    os.remove(out)
    return report, baseline


def penalty(m):
    d = scipy.sparse.diags([1.0, -2.0, 1.0], [0, 1, 2], shape=(m - 2, m))
    return (d.T @ d).tocsr()


def direct_fit(data, method):
    """The fitting loop with every solve by scipy.sparse's direct solver."""
    rows, cols = data.shape
    y = data.ravel()
    smoothing = LAM * (scipy.sparse.kron(penalty(rows), scipy.sparse.identity(cols))
                       + scipy.sparse.kron(scipy.sparse.identity(rows), penalty(cols)))
    weights, z = np.ones(y.size), y
    for _ in range(MAX_ITER):
        floored = np.maximum(weights, 1e-8)
        z = scipy.sparse.linalg.spsolve((scipy.sparse.diags(floored) + smoothing).tocsc(), floored * y)
        new = asls_weights(y, z) if method == "asls" else arpls_weights(y, z)
        change = np.linalg.norm(new - weights) / max(np.linalg.norm(weights), 2.220446049250313e-16)
        weights = new
        if change <= TOL:
            break
    return z.reshape(rows, cols)


def asls_weights(y, z):
    return np.where(y > z, P, 1.0 - P)


def arpls_weights(y, z):
    d = y - z
    negative = d[d < 0]
    if negative.size < 2:
        return np.ones_like(d)
    mean, std = negative.mean(), negative.std(ddof=1)
    t = 2.0 * (d - (2.0 * std - mean)) / max(std, 2.220446049250313e-16)
    return 1.0 / (1.0 + np.exp(np.minimum(t, 700.0)))


def pybaselines_fit(data, method):
    kwargs = dict(lam=LAM, max_iter=MAX_ITER, tol=TOL, diff_order=2, num_eigens=(10, 10))
    if method == "asls":
        kwargs["p"] = P
    baseline, params = getattr(pybaselines.Baseline2D(), method)(data, **kwargs)
    return baseline, len(params["tol_history"])


def timed(call, repeats):
    seconds, result = [], None
    for _ in range(repeats):
        start = time.perf_counter()
        result = call()
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds), result


def distance(baseline, reference, data):
    """Largest and root-mean-square |baseline - reference|, over the data's peak-to-peak range."""
    gap = np.abs(baseline - reference) / np.ptp(data)
    return f"{gap.max():.1e} / {np.sqrt(np.mean(gap**2)):.1e}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--harness", required=True)
    parser.add_argument("--sizes", type=int, nargs="+", default=[512, 1024])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--cg-up-to", type=int, default=0, metavar="SIDE",
                        help="also time the default conjugate gradients on images up to this side (slow)")
    parser.add_argument("--direct", action="store_true", help="check the reference against scipy's direct solves")
    args = parser.parse_args()

    print("| image | method | solver | time | outer iterations | steps per solve | distance from reference (max / rms) |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        for side in args.sizes:
            data = image(side)
            path = os.path.join(folder, f"image{side}.f64")
            data.tofile(path)
            for method in METHODS:
                _, reference = run_harness(args.harness, path, side, method, "multigrid", 1e-12, 100_000)
                row = f"| {side}² | {method} |"
                runs = [run_harness(args.harness, path, side, method, "multigrid", 1e-6, 500)
                         for _ in range(args.repeats)]
                report, baseline = runs[0]
                seconds = statistics.median(r["seconds"] for r, _ in runs)
                print(f"{row} quorvel multigrid | {seconds:.2f} s | {report['iterations']} | {report['steps']} | "
                      f"{distance(baseline, reference, data)} |")
                if side <= args.cg_up_to:
                    report, baseline = run_harness(args.harness, path, side, method, "cg", 1e-6, 500)
                    print(f"{row} quorvel conjugate gradients | {report['seconds']:.2f} s | {report['iterations']} | "
                          f"≤ 500 | {distance(baseline, reference, data)} |")
                if pybaselines is not None:
                    seconds, (baseline, iterations) = timed(lambda: pybaselines_fit(data, method), args.repeats)
                    print(f"{row} pybaselines eigen 10×10 | {seconds:.2f} s | {iterations} | — | "
                          f"{distance(baseline, reference, data)} |")
                if args.direct:
                    seconds, baseline = timed(lambda: direct_fit(data, method), 1)
                    print(f"{row} scipy.sparse direct | {seconds:.2f} s | — | — | {distance(baseline, reference, data)} |")
                sys.stdout.flush()


if __name__ == "__main__":
    main()
