"""Peak resident-memory growth of one fit, run as `python memprobe.py CASE SIZE` in a fresh process.

Native allocations are invisible to tracemalloc, so the probe reads the kernel's
high-water mark of the resident set. On Linux that is VmHWM, reset once the input is
made so that making it does not count; getrusage's ru_maxrss is only the fallback,
because a process started by fork and exec inherits its parent's peak there, and the
benchmark's parent is large by the time it probes. Prints one JSON object.
"""

import json
import resource
import sys
import time

import inputs


def _fitter(case):
    """The input maker and the fit of `case`."""
    if case == "quorvel-1d":
        import quorvel

        return inputs.spectrum, lambda data: quorvel.baseline(data, "asls")
    if case == "quorvel-2d":
        import quorvel

        return inputs.image, lambda data: quorvel.baseline_2d(data, "asls")
    if case == "pybaselines-1d":
        from pybaselines import Baseline

        return inputs.spectrum, lambda data: Baseline().asls(
            data, lam=1e6, p=0.01, max_iter=50, tol=1e-3, diff_order=2
        )
    if case in ("pybaselines-2d", "pybaselines-2d-exact"):
        from pybaselines import Baseline2D

        eigens = None if case.endswith("exact") else (10, 10)
        return inputs.image, lambda data: Baseline2D().asls(
            data, lam=1e4, p=0.01, max_iter=50, tol=1e-3, diff_order=2, num_eigens=eigens
        )
    raise SystemExit(f"unknown case {case!r}")


def _reset_peak():
    try:
        with open("/proc/self/clear_refs", "w") as handle:
            handle.write("5")
        return True
    except OSError:
        return False


def _peak_kib():
    try:
        with open("/proc/self/status") as handle:
            for line in handle:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    # Kibibytes on Linux, bytes on macOS; only reached where /proc is missing.
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def main(case, size):
    make, fit = _fitter(case)
    # A small fit first, so that modules loaded lazily on first use are not counted.
    fit(make(16))
    data = make(size)
    reset = _reset_peak()
    before = _peak_kib()
    start = time.perf_counter()
    fit(data)
    seconds = time.perf_counter() - start
    after = _peak_kib()
    print(json.dumps({"case": case, "size": size, "input_bytes": data.nbytes, "before_kib": before,
                      "after_kib": after, "seconds": seconds, "peak_reset": reset}))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
