#!/usr/bin/env python3
"""Time quorvel against NumPy, SciPy and pybaselines on the same inputs; write RESULTS.md and results.png.

    pip install '.[bench]' && python bench/run.py   # everything, written into bench/
    python bench/run.py --quick                       # smallest sizes, one repeat, a temporary folder
    python bench/run.py --only 1d,threads --repeats 3 --out /tmp/bench

Everything runs in this one process on inputs made once per size, except the peak
memory probes, which need a fresh process each. Installs nothing.
"""

from __future__ import annotations

import argparse
import importlib
import json
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import numpy as np

import quorvel
from quorvel import _native as native
from quorvel import _tunable

HERE = Path(__file__).resolve().parent
if str(HERE) not in sys.path:
    sys.path.insert(0, str(HERE))

import inputs  # noqa: E402
import machine  # noqa: E402
import report  # noqa: E402
import timing  # noqa: E402

GROUPS = ("1d", "2d", "grid", "schemes", "poly", "pspline", "morph", "overhead", "out", "threads", "batch", "pool",
          "growth", "memory")
WHITTAKER = ("asls", "arpls", "airpls")
# The Whittaker family's other schemes, which take the reference library's parameters and defaults.
SCHEMES = ("iasls", "drpls", "iarpls", "aspls", "psalsa", "derpsalsa", "brpls", "lsrpls")
# The polynomial family, run as the schemes are.
POLYNOMIALS = ("poly", "modpoly", "imodpoly", "penalized_poly", "quant_reg", "loess", "goldindec")
# The P-spline family, run as the schemes are.
PSPLINES = ("pspline_asls", "pspline_arpls", "pspline_airpls", "pspline_iarpls", "pspline_psalsa", "pspline_derpsalsa",
            "pspline_lsrpls", "pspline_brpls", "pspline_drpls", "pspline_iasls", "pspline_aspls", "mixture_model",
            "irsqr")
# quant_reg's default eps makes its reweighting nearly singular, so rounding alone changes its iteration count;
# an eps of 1 on data spanning about 100 keeps both libraries on one path.
REFERENCE_ARGS = {"quant_reg": {"eps": 1.0}}
SCHEME_SIZES = [10**3, 10**4, 10**5]
SCHEME_STACK = (1000, 1000)  # (samples, spectra)
# The model-free methods whose defaults differ from the reference library's run with these on both sides.
SHARED_1D = {"snip": {"max_half_window": 40}, "rubberband": {}, "noise_median": {"half_window": 20},
             "peak_filling": {}, "corner_cutting": {}, "mwmv": {"half_window": 20},
             "mpls": {"half_window": 20}, "jbcd": {"half_window": 20},
             "ipsa": {"half_window": 20}, "ria": {"half_window": 20},
             "poly": {}, "modpoly": {}, "imodpoly": {}, "penalized_poly": {}, "quant_reg": {"eps": 1.0}, "loess": {},
             "goldindec": {}, "swima": {},
             "pspline_asls": {}, "pspline_arpls": {}, "pspline_airpls": {}, "pspline_iarpls": {}, "pspline_psalsa": {},
             "pspline_derpsalsa": {}, "pspline_lsrpls": {}, "pspline_brpls": {}, "pspline_drpls": {},
             "pspline_iasls": {}, "pspline_aspls": {}, "mixture_model": {}, "irsqr": {},
             "pspline_mpls": {"half_window": 20}}
# Methods whose reference takes seconds past 10^5 samples run at these sizes only.
SHORT_1D = {"peak_filling": [10**3, 10**5], "corner_cutting": [10**3, 10**5], "mwmv": [10**3, 10**5],
            "interp_pts": [10**3, 10**5], "loess": [10**3, 10**5], "pspline_asls": [10**3, 10**5],
            "pspline_arpls": [10**3, 10**5], "pspline_airpls": [10**3, 10**5],
            **dict.fromkeys(("pspline_iarpls", "pspline_psalsa", "pspline_derpsalsa", "pspline_lsrpls", "pspline_brpls",
                             "pspline_drpls", "pspline_iasls", "pspline_aspls", "mixture_model", "irsqr",
                             "pspline_mpls"),
                          [10**3, 10**5]),
            "goldindec": [10**3, 10**4, 10**5], "swima": [10**3, 10**4, 10**5]}
# interp_pts' points, on the reference library's default x of -1 to 1.
INTERP_POINTS = np.column_stack([np.linspace(-1.0, 1.0, 25), np.cos(np.linspace(0.0, 3.0, 25))])
# The morphological methods whose window the data decide unless told.
MORPH = ("mor", "imor", "amormol", "mormol")
MORPH_SIZES = [10**3, 10**5]
SIZES_1D = [10**3, 10**4, 10**5, 10**6]
SIDES_2D = {"asls": [64, 256, 512], "arpls": [64, 256, 512],
            "rolling_ball": [64, 256, 1024], "polynomial": [64, 256, 1024], "tophat": [64, 256, 1024],
            "pspline_asls": [100, 256, 512], "pspline_arpls": [100, 256, 512], "mixture_model": [100, 256, 512]}
# The grid splines run at both libraries' defaults, which agree.
SPLINES_2D = ("pspline_asls", "pspline_arpls", "mixture_model")
# pybaselines' two-dimensional Whittaker methods solve approximately on a truncated
# eigenbasis unless num_eigens is None, which makes them solve the full system.
EIGEN_MODES = {"pybaselines (eigen 10×10)": (10, 10), "pybaselines (exact)": None}
THREAD_SPECTRA, THREAD_SAMPLES = 200, 10_000
BATCH_STACKS = [(1000, 1000), (10_000, 100)]  # (samples, spectra)
GRID_SIDES, GRID_CG_UP_TO = [512, 1024], 512
CHEMOTOOLS = {"asls": ("AsLs", {"penalty": 0.01}), "arpls": ("ArPls", {}), "airpls": ("AirPls", {})}
OVERHEAD_CALLS = 20_000
OUT_SAMPLES = 10**6
POOL_STACKS = [1, 4, 16, 64, 256, 1024]  # spectra of POOL_SAMPLES each
POOL_SAMPLES = 1000


def optional(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


pybaselines = optional("pybaselines")
ndimage = optional("scipy.ndimage")
chemotools = optional("chemotools.baseline")


def _iterations(params):
    history = params.get("tol_history") if isinstance(params, dict) else None
    if history is None:
        return None
    # goldindec's rows past its first two hold each threshold's fit: its iterations are their nonzero changes.
    return int(np.count_nonzero(history[2:])) if np.ndim(history) == 2 else len(history)


def _pybaselines_1d(method, **kwargs):
    def call(y):
        baseline, params = getattr(pybaselines.Baseline(), method)(y, **kwargs)
        return baseline, _iterations(params)
    return call if pybaselines else None


def _pybaselines_reused(method, **kwargs):
    """One fitter per size, made outside the timing, so its set-up (a polynomial's pseudo-inverse,
    say) is paid once as a caller correcting many spectra would."""
    fitters = {}

    def call(y):
        fitter = fitters.get(y.size)
        baseline, params = getattr(fitter, method)(y, **kwargs)
        return baseline, _iterations(params)

    def prepare(y):
        fitters[y.size] = pybaselines.Baseline(np.arange(y.size, dtype=float))
        getattr(fitters[y.size], method)(y, **kwargs)

    call.prepare = prepare
    return call if pybaselines else None


def _pybaselines_2d(method, **kwargs):
    def call(data):
        baseline, params = getattr(pybaselines.Baseline2D(), method)(data, **kwargs)
        return baseline, _iterations(params)
    return call if pybaselines else None


def _pybaselines_2d_reused(method):
    """One Baseline2D per shape, made (and run once) outside the timing."""
    fitters = {}

    def call(data):
        baseline, params = getattr(fitters[data.shape], method)(data)
        return baseline, _iterations(params)

    def prepare(data):
        rows, cols = data.shape
        fitters[data.shape] = pybaselines.Baseline2D(np.linspace(-1.0, 1.0, rows), np.linspace(-1.0, 1.0, cols))
        getattr(fitters[data.shape], method)(data)

    call.prepare = prepare
    return call if pybaselines else None


def _scipy_opening(half_window):
    def call(data):
        return ndimage.grey_opening(data, size=(2 * half_window + 1,) * data.ndim, mode="reflect"), None
    return call


def _scipy_rolling_1d(y):
    opened = ndimage.grey_opening(y, size=31, mode="reflect")
    return ndimage.uniform_filter1d(opened, size=31), None


def _scipy_rolling_2d(data):
    opened = ndimage.grey_opening(data, size=(7, 7), mode="reflect")
    return ndimage.uniform_filter(opened, size=7, mode="reflect"), None


def _numpy_polynomial_1d(y):
    # The abscissa is built inside the call: quorvel builds its own too.
    x = np.linspace(-1.0, 1.0, y.size)
    return np.polynomial.polynomial.polyval(x, np.polynomial.polynomial.polyfit(x, y, 2)), None


def _numpy_surface(data):
    rows, cols = data.shape
    y, x = np.meshgrid(np.linspace(-1.0, 1.0, rows), np.linspace(-1.0, 1.0, cols), indexing="ij")
    x, y = x.ravel(), y.ravel()
    basis = np.stack([x**a * y**b for a in range(3) for b in range(3)], axis=1)
    coef = np.linalg.lstsq(basis, data.ravel(), rcond=None)[0]
    return (basis @ coef).reshape(rows, cols), None


def _whittaker_kwargs(method, lam):
    """pybaselines' settings for quorvel's fixed defaults of a Whittaker method."""
    kwargs = dict(lam=lam, max_iter=50, tol=1e-3, diff_order=2)
    if method == "asls":
        kwargs["p"] = 0.01
    return kwargs


def libraries_1d(method):
    """(label, call) pairs, quorvel first; a call of None means the peer is not installed."""
    shared = SHARED_1D.get(method, {})
    found = [("quorvel", lambda y: (quorvel.baseline(y, method, **shared), None))]
    if method in SHARED_1D:
        found.append(("pybaselines", _pybaselines_1d(method, **shared)))
        found.append(("pybaselines (reused fitter)", _pybaselines_reused(method, **shared)))
    elif method in WHITTAKER:
        kwargs = _whittaker_kwargs(method, 1e6)
        found.append(("pybaselines", _pybaselines_1d(method, **kwargs)))
        found.append(("pybaselines (reused fitter)", _pybaselines_reused(method, **kwargs)))
    elif method == "interp_pts":
        def ours(y):
            x = np.linspace(-1.0, 1.0, y.size)
            return quorvel.baseline(y, method, x=x, baseline_points=INTERP_POINTS, interp_method="cubic"), None
        found = [("quorvel", ours),
                 ("pybaselines", _pybaselines_1d("interp_pts", baseline_points=INTERP_POINTS, interp_method="cubic"))]
    elif method == "rolling_ball":
        found.append(("pybaselines", _pybaselines_1d("rolling_ball", half_window=15, smooth_half_window=15)))
        found.append(("scipy.ndimage", _scipy_rolling_1d if ndimage else None))
    elif method == "tophat":
        found.append(("pybaselines", _pybaselines_1d("tophat", half_window=15)))
        found.append(("pybaselines (reused fitter)", _pybaselines_reused("tophat", half_window=15)))
        found.append(("scipy.ndimage", _scipy_opening(15) if ndimage else None))
    else:
        found.append(("numpy polyfit", _numpy_polynomial_1d))
        found.append(("pybaselines", _pybaselines_1d("poly", poly_order=2)))
        found.append(("pybaselines (reused fitter)", _pybaselines_reused("poly", poly_order=2)))
    return found


def libraries_2d(method):
    found = [("quorvel", lambda data: (quorvel.baseline_2d(data, method), None))]
    if method in WHITTAKER:
        for label, eigens in EIGEN_MODES.items():
            found.append((label, _pybaselines_2d(method, num_eigens=eigens, **_whittaker_kwargs(method, 1e4))))
    elif method in SPLINES_2D:
        found.append(("pybaselines", _pybaselines_2d(method)))
        found.append(("pybaselines (reused fitter)", _pybaselines_2d_reused(method)))
    elif method == "rolling_ball":
        found.append(("scipy.ndimage", _scipy_rolling_2d if ndimage else None))
    elif method == "tophat":
        found.append(("pybaselines", _pybaselines_2d("tophat", half_window=3)))
        found.append(("scipy.ndimage", _scipy_opening(3) if ndimage else None))
    else:
        found.append(("numpy lstsq", _numpy_surface))
    return found


class Bench:
    def __init__(self, repeats, case_seconds, budget, quick):
        self.repeats, self.case_seconds, self.budget, self.quick = repeats, case_seconds, budget, quick
        self.history = {}

    def log(self, text):
        print(text, flush=True)

    def case(self, key, label, call, data, size):
        """Times `call(data)`; peers whose expected time exceeds the budget are skipped, quorvel never."""
        if call is None:
            return timing.Timing(label, size, note="not installed")
        history = self.history.setdefault((key, label), [])
        if hasattr(call, "prepare"):
            call.prepare(data)
        if label != "quorvel":
            note = timing.skip_note(history, size, self.budget)
            if note:
                self.log(f"  {key:<18}{label:<28}{size:>9}  {note}")
                return timing.Timing(label, size, note=note)
        median, samples, (baseline, iterations) = timing.measure(
            lambda: call(data), self.repeats, self.case_seconds)
        history.append((size, median))
        self.log(f"  {key:<18}{label:<28}{size:>9}  {median:11.6f} s  x{len(samples)}"
                 + (f"  {iterations} iterations" if iterations is not None else ""))
        return timing.Timing(label, size, median, len(samples), samples, iterations=iterations,
                             output=baseline)

    def compare(self, key, libraries, data, size):
        row = [self.case(key, label, call, data, size) for label, call in libraries]
        reference = row[0].output
        spread = float(np.ptp(data)) or 1.0
        for result in row:
            if result.output is not None and reference is not None:
                result.deviation = float(np.max(np.abs(result.output - reference))) / spread
            result.output = None
        return row

    def one_d(self):
        sizes = SIZES_1D[:1] if self.quick else SIZES_1D
        table = {method: [] for method in quorvel.parameters.method_names(1) if method not in SCHEMES + MORPH}
        for n in sizes:
            y = inputs.spectrum(n)
            for method in (m for m in table if n in SHORT_1D.get(m, sizes)):
                table[method].append((n, self.compare(f"1d {method}", libraries_1d(method), y, n)))
        return table

    def two_d(self):
        table = {}
        # The grid schemes have bench/grid_schemes.py: the reference library's exact grids take minutes there.
        for method in (m for m in quorvel.parameters.method_names(2) if m in SIDES_2D):
            sides = SIDES_2D[method][:1] if self.quick else SIDES_2D[method]
            table[method] = []
            for side in sides:
                image = inputs.image(side)
                row = self.compare(f"2d {method}", libraries_2d(method), image, side * side)
                table[method].append((side, row))
        return table

    def schemes(self, methods=SCHEMES):
        """Each method at the reference library's defaults against its reused fitter, the iteration counts
        of both first; then a loop of single calls against `correct_many` on one worker (the lanes)."""
        single, batch = [], []
        for n in SCHEME_SIZES[:1] if self.quick else SCHEME_SIZES:
            y = inputs.spectrum(n)
            fitter = pybaselines.Baseline(np.arange(n, dtype=float)) if pybaselines else None
            for method in methods:
                args = REFERENCE_ARGS.get(method, {})
                ours = quorvel.fit(y, method, **args)
                calls = {"quorvel": lambda: quorvel.baseline(y, method, **args)}
                theirs = deviation = None
                if fitter:
                    reference, params = getattr(fitter, method)(y, **args)
                    history = params.get("tol_history", [None])
                    theirs = len(history)
                    if method in ("brpls", "pspline_brpls", "goldindec"):  # the inner fits' rows: nonzero changes
                        theirs = int(np.count_nonzero(history[2 if method == "goldindec" else 1:]))
                    deviation = float(np.max(np.abs(ours.baseline - reference)) / np.ptp(y))
                    calls["pybaselines"] = lambda: getattr(fitter, method)(y, **args)
                seconds = timing.interleaved(calls, self.repeats)
                single.append((method, n, ours.iterations, theirs, deviation, seconds["quorvel"],
                               seconds.get("pybaselines")))
                peer = seconds.get("pybaselines")
                self.log(f"  scheme {method:<10}{n:>8}  iterations {ours.iterations} / {theirs}  "
                         f"quorvel {seconds['quorvel']:9.5f} s" + (f"  pybaselines {peer:9.5f} s "
                         f"({peer / seconds['quorvel']:.2f}x)  deviation {deviation:.1e}" if peer else ""))
        samples, spectra = SCHEME_STACK
        stack = np.stack([inputs.spectrum(samples, seed=inputs.SEED + i) for i in range(20 if self.quick else spectra)])
        for method in methods:
            args = REFERENCE_ARGS.get(method, {})
            seconds = timing.interleaved({"loop": lambda: [quorvel.correct(y, method, **args) for y in stack],
                                          "one": lambda: quorvel.correct_many(stack, method, workers=1, **args)},
                                         self.repeats)
            batch.append((method, samples, len(stack), seconds["loop"], seconds["one"]))
            self.log(f"  scheme batch {method:<10}{len(stack)} x {samples}: loop {seconds['loop']:8.3f} s  "
                     f"1 worker {seconds['one']:8.3f} s ({seconds['loop'] / seconds['one']:.2f}x)")
        return {"single": single, "batch": batch}

    def morph(self):
        """The methods of MORPH against the reference library's fitter made once per size, with the window given (the
        one both estimate) and left to the data; the windows, iteration counts and deviations first."""
        rows = []
        for n in MORPH_SIZES[:1] if self.quick else MORPH_SIZES:
            y = inputs.spectrum(n)
            fitter = pybaselines.Baseline(np.arange(n, dtype=float)) if pybaselines else None
            for method in MORPH:
                for half in (quorvel.fit(y, method).params["half_window"], None):
                    ours = quorvel.fit(y, method, half_window=half)
                    calls = {"quorvel": lambda: quorvel.baseline(y, method, half_window=half)}
                    theirs = deviation = None
                    if fitter:
                        reference, params = getattr(fitter, method)(y, half_window=half)
                        theirs = (int(params["half_window"]), len(params.get("tol_history", [None])))
                        deviation = float(np.max(np.abs(ours.baseline - reference)) / np.ptp(y))
                        calls["pybaselines"] = lambda: getattr(fitter, method)(y, half_window=half)
                    seconds = timing.interleaved(calls, self.repeats)
                    mine, peer = seconds["quorvel"], seconds.get("pybaselines")
                    rows.append((method, n, half is None, (ours.params["half_window"], ours.iterations), theirs,
                                 deviation, mine, peer))
                    self.log(f"  morph {method:<5}{n:>8}  window {'estimated' if half is None else half}  "
                             f"quorvel {mine:9.5f} s" + (f"  pybaselines {peer:9.5f} s ({peer / mine:.1f}x)  "
                                                         f"(window, iterations) {rows[-1][3]} / {theirs}  "
                                                         f"deviation {deviation:.1e}" if peer else ""))
        return rows

    def overhead(self):
        calls = OVERHEAD_CALLS // 10 if self.quick else OVERHEAD_CALLS
        y = inputs.spectrum(16)
        x = np.linspace(-1.0, 1.0, 16)
        poly = np.polynomial.polynomial
        cases = [
            ("quorvel._native.correct(y, \"polynomial\")", lambda: native.correct(y, "polynomial")),
            ("quorvel.correct(y, \"polynomial\")", lambda: quorvel.correct(y, "polynomial")),
            ("quorvel.correct(y, \"polynomial\", poly_order=2)", lambda: quorvel.correct(y, "polynomial", poly_order=2)),
            ("quorvel.baseline(y, \"polynomial\")", lambda: quorvel.baseline(y, "polynomial")),
            ("numpy polyfit + polyval, y minus fit", lambda: y - poly.polyval(x, poly.polyfit(x, y, 2))),
            ("an empty Python call (the clock's floor)", lambda: None),
        ]
        rows = []
        clock = time.perf_counter_ns
        for label, call in cases:
            for _ in range(min(calls, 500)):
                call()
            spans = []
            for _ in range(calls):
                start = clock()
                call()
                spans.append(clock() - start)
            spans.sort()
            micro = [spans[int(q * (calls - 1))] / 1000.0 for q in (0.1, 0.5, 0.9)]
            rows.append((label, calls, *micro))
            self.log(f"  overhead {label:<44}{micro[1]:9.2f} µs")
        return rows

    def out(self):
        """A reused result array at 10^6 samples: the polynomial's correction through the front door with
        out=, against the same fit called straight into a reused buffer from private rows, and against a
        new result per call."""
        n = OUT_SAMPLES // 100 if self.quick else OUT_SAMPLES
        y = inputs.spectrum(n)
        buffer, rows = np.empty(n), y.reshape(1, n).copy()
        params = quorvel.parameters.resolve("polynomial", 1, {})
        cases = [
            ("the fit alone (block function, reused buffer)",
             lambda: _tunable.fit_1d_many(buffer.reshape(1, n), None, rows, None, None, "polynomial", params, 1)),
            ("quorvel.correct(y, \"polynomial\", out=buffer)", lambda: quorvel.correct(y, "polynomial", out=buffer)),
            ("quorvel.correct(y, \"polynomial\")", lambda: quorvel.correct(y, "polynomial")),
        ]
        rows_out = []
        for label, call in cases:
            seconds = timing.measure(call, max(self.repeats, 20), self.case_seconds)[0]
            rows_out.append((label, n, seconds))
            self.log(f"  out {label:<52}{seconds * 1e9 / n:7.3f} ns/sample")
        return rows_out

    def threads(self):
        count = THREAD_SPECTRA // 10 if self.quick else THREAD_SPECTRA
        spectra = [inputs.spectrum(THREAD_SAMPLES, seed=inputs.SEED + i) for i in range(count)]

        def run(method, workers):
            def work(chunk):
                for y in chunk:
                    quorvel.baseline(y, method)
            pool = [threading.Thread(target=work, args=(spectra[i::workers],)) for i in range(workers)]
            wall, cpu = time.perf_counter(), time.process_time()
            for thread in pool:
                thread.start()
            for thread in pool:
                thread.join()
            # Process CPU time over wall time tells whether both threads really ran at once
            # or were starved by the lock or by other load on the machine.
            return (time.process_time() - cpu) / (time.perf_counter() - wall)

        rows = []
        for method in quorvel.methods():
            seconds, busy = [], 0.0
            for workers in (1, 2):
                median, _, busy = timing.measure(lambda: run(method, workers), self.repeats, self.case_seconds)
                seconds.append(median)
            rows.append((method, count, *seconds, busy))
            self.log(f"  threads {method:<14}1: {seconds[0]:8.3f} s  2: {seconds[1]:8.3f} s"
                     f"  speed-up {seconds[0] / seconds[1]:.2f}  cores busy {busy:.2f}")
        return rows

    def grid(self):
        """The grid Whittaker fits by solver, each measured against the same fit with every solve
        converged to a relative residual of 1e-12."""
        rows = []
        for side in [64] if self.quick else GRID_SIDES:
            image = inputs.image(side)
            spread = float(np.ptp(image)) or 1.0
            for method in ("asls", "arpls"):
                reference = quorvel.fit_2d(image, method, solver="multigrid", cg_tol=1e-12, cg_max_iter=10_000)
                calls = [("quorvel multigrid", lambda: quorvel.fit_2d(image, method, solver="multigrid"))]
                if side <= GRID_CG_UP_TO:
                    calls.append(("quorvel cg (default)", lambda: quorvel.fit_2d(image, method)))
                if pybaselines:
                    fit = _pybaselines_2d(method, num_eigens=(10, 10), **_whittaker_kwargs(method, 1e4))
                    calls.append(("pybaselines (eigen 10×10)", lambda: fit(image)))
                for label, call in calls:
                    median, _, outcome = timing.measure(call, self.repeats, self.case_seconds)
                    fitted = outcome.baseline if hasattr(outcome, "baseline") else outcome[0]
                    iterations = outcome.iterations if hasattr(outcome, "iterations") else outcome[1]
                    error = np.abs(fitted - reference.baseline) / spread
                    rows.append((method, side, label, median, iterations, float(error.max()),
                                 float(np.sqrt(np.mean(error**2)))))
                    self.log(f"  grid {method:<6}{side:>5}²  {label:<28}{median:9.3f} s  {iterations} iterations"
                             f"  distance max {error.max():.1e}")
        return rows

    def batch(self):
        """A loop of one-spectrum calls against `correct_many` on one worker, on two, and with the default
        pool, and two workers against two processes each correcting half the stack, all in turn."""
        rows = []
        for samples, spectra in BATCH_STACKS:
            count = max(8, spectra // 10) if self.quick else spectra
            stack = np.stack([inputs.spectrum(samples, seed=inputs.SEED + i) for i in range(count)])
            for method in quorvel.methods():
                calls = {
                    "loop": lambda: [native.correct(y, method) for y in stack],
                    "one": lambda: quorvel.correct_many(stack, method, workers=1),
                    "default": lambda: quorvel.correct_many(stack, method),
                }
                if chemotools and method in CHEMOTOOLS:
                    name, extra = CHEMOTOOLS[method]
                    peer = getattr(chemotools, name)(lam=1e6, nr_iterations=50, **extra)
                    calls["chemotools"] = lambda: peer.fit_transform(stack)
                seconds = timing.interleaved(calls, self.repeats)
                seconds.update(_two_workers_and_processes(stack, samples, method, max(self.repeats, 9)))
                rows.append((method, samples, count, seconds["loop"], seconds["one"], seconds["two"],
                             seconds["ceiling"], seconds["default"], seconds.get("chemotools")))
                self.log(f"  batch {method:<14}{count} x {samples}: loop {seconds['loop']:8.3f} s  "
                         f"1 worker {seconds['one']:8.3f} s ({seconds['loop'] / seconds['one']:.2f}x)  "
                         f"2 workers {seconds['two']:8.3f} s ({seconds['one'] / seconds['two']:.2f}x, "
                         f"{seconds['ceiling'] / seconds['two']:.0%} of 2 processes)  "
                         f"default {seconds['one'] / seconds['default']:.2f}x")
        return rows

    def pool(self):
        """The default pool against one worker on stacks from one spectrum to a thousand, in turn."""
        rows = []
        # A quick run only shows that the group works: the fixed-default methods, a few repeats.
        methods = quorvel.parameters.method_names(1)
        methods, repeats = (methods[:5], 3) if self.quick else (methods, max(self.repeats, 7))
        for count in POOL_STACKS[:3] if self.quick else POOL_STACKS:
            stack = np.stack([inputs.spectrum(POOL_SAMPLES, seed=inputs.SEED + i) for i in range(count)])
            for method in methods:
                seconds = timing.interleaved({
                    "one": lambda: quorvel.correct_many(stack, method, workers=1),
                    "default": lambda: quorvel.correct_many(stack, method),
                }, repeats)
                rows.append((method, count, seconds["one"], seconds["default"]))
                self.log(f"  pool {method:<14}{count:>5} x {POOL_SAMPLES}: 1 worker {seconds['one'] * 1e3:9.3f} ms  "
                         f"default {seconds['default'] * 1e3:9.3f} ms ({seconds['one'] / seconds['default']:.2f}x)")
        return rows

    def growth(self, one_d):
        """Quorvel's seconds per size and method, reusing the 1-D group when it ran."""
        if one_d is None:
            sizes = SIZES_1D[:1] if self.quick else SIZES_1D
            one_d = {method: [] for method in quorvel.methods()}
            for n in sizes:
                y = inputs.spectrum(n)
                for method in one_d:
                    call = libraries_1d(method)[0][1]
                    one_d[method].append((n, [self.case(f"1d {method}", "quorvel", call, y, n)]))
        return {method: [(n, row[0].seconds) for n, row in rows] for method, rows in one_d.items()}

    def memory(self):
        n, side = (SIZES_1D[0], SIDES_2D["asls"][0]) if self.quick else (SIZES_1D[-1], SIDES_2D["asls"][-1])
        cases = [("1-D asls", "quorvel", "quorvel-1d", n), ("1-D asls", "pybaselines", "pybaselines-1d", n),
                 ("2-D asls", "quorvel", "quorvel-2d", side)]
        cases += [("2-D asls", label, "pybaselines-2d" + ("" if eigens else "-exact"), side)
                  for label, eigens in EIGEN_MODES.items()]
        rows = []
        for what, label, probe, size in cases:
            elements = size if what.startswith("1") else size * size
            row = {"what": what, "library": label, "size": size, "elements": elements}
            note = "" if label == "quorvel" else timing.skip_note(
                self.history.get(("2d asls" if what.startswith("2") else "1d asls", label), []),
                elements, self.budget)
            if label != "quorvel" and pybaselines is None:
                note = "not installed"
            if not note:
                try:
                    done = subprocess.run([sys.executable, str(HERE / "memprobe.py"), probe, str(size)],
                                          capture_output=True, text=True, cwd=HERE, check=True,
                                          timeout=None if label == "quorvel" else self.budget)
                    row.update(json.loads(done.stdout.strip().splitlines()[-1]))
                except subprocess.TimeoutExpired:
                    note = f"skipped (> budget {self.budget:.0f} s)"
                except subprocess.CalledProcessError as failure:
                    note = "failed: " + (failure.stderr.strip().splitlines() or ["?"])[-1]
            row["note"] = note
            rows.append(row)
            if note:
                self.log(f"  memory {what} {label:<28}{note}")
            else:
                grown = (row["after_kib"] - row["before_kib"]) / 1024.0
                self.log(f"  memory {what} {label:<28}{grown:9.1f} MiB in {row['seconds']:.1f} s")
        return rows


def _two_workers_and_processes(stack, samples, method, repeats):
    """Median seconds of `correct_many` on two workers and of two processes each correcting half the
    stack at the same time (the slower half, as the processes clock it), taken in turn."""
    two, ceiling = [], []
    with _Halves(samples, len(stack), method) as halves:
        quorvel.correct_many(stack, method, workers=2)
        for _ in range(repeats):
            start = time.perf_counter()
            quorvel.correct_many(stack, method, workers=2)
            two.append(time.perf_counter() - start)
            ceiling.append(halves.run())
    return {"two": float(np.median(two)), "ceiling": float(np.median(ceiling))}


class _Halves:
    """Two processes (`bench/halves.py`), each holding half the stack; `run` has both correct their half
    on one worker at the same time and gives the seconds of the slower."""

    def __init__(self, samples, count, method):
        command = [sys.executable, str(HERE / "halves.py"), str(samples), str(count)]
        self.processes = [subprocess.Popen([*command, str(half), method], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, text=True) for half in (0, 1)]

    def __enter__(self):
        for process in self.processes:
            process.stdout.readline()
        return self

    def run(self):
        for process in self.processes:
            process.stdin.write("go\n")
            process.stdin.flush()
        return max(float(process.stdout.readline()) for process in self.processes)

    def __exit__(self, *exc):
        for process in self.processes:
            process.stdin.close()
            process.wait()


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true",
                        help="smallest sizes, one repeat, output to a temporary folder unless --out")
    parser.add_argument("--repeats", type=int, default=None, help="samples per case, median reported (5)")
    parser.add_argument("--only", default=",".join(GROUPS),
                        help=f"comma-separated groups among {', '.join(GROUPS)}")
    parser.add_argument("--out", type=Path, help="folder for RESULTS.md and results.png (bench/)")
    parser.add_argument("--case-seconds", type=float, default=60.0,
                        help="repeats shrink so one case spends about this long, never below one (60)")
    parser.add_argument("--budget", type=float, default=240.0,
                        help="a peer expected to need longer than this per call is skipped (240)")
    args = parser.parse_args(argv)
    args.groups = [g.strip() for g in args.only.split(",") if g.strip()]
    unknown = [g for g in args.groups if g not in GROUPS]
    if unknown or not args.groups:
        parser.error(f"unknown group {', '.join(unknown) or '(none)'}; choose among {', '.join(GROUPS)}")
    if args.repeats is None:
        args.repeats = 1 if args.quick else 5
    if args.repeats < 1:
        parser.error("--repeats must be at least 1")
    return args


def main(argv=None):
    args = parse(argv)
    wanted = ["pybaselines", "scipy", "pentapy", "matplotlib"]
    missing = [name for name in wanted if optional(name) is None]
    if missing and not args.quick:
        sys.exit(f"missing {', '.join(missing)}: pip install '.[bench]' first (or use --quick)")
    out = args.out or (Path(tempfile.mkdtemp(prefix="quorvel-bench-")) if args.quick else HERE)
    out.mkdir(parents=True, exist_ok=True)

    bench = Bench(args.repeats, args.case_seconds, args.budget, args.quick)
    results, busy = {}, {}
    load_before = machine.load_average()
    started = time.perf_counter()
    for group in GROUPS:
        if group not in args.groups:
            continue
        bench.log(f"== {group}")
        other = machine.OtherLoad().start()
        if group == "1d":
            results[group] = bench.one_d()
        elif group == "2d":
            results[group] = bench.two_d()
        elif group == "grid":
            results[group] = bench.grid()
        elif group == "schemes":
            results[group] = bench.schemes()
        elif group == "poly":
            results[group] = bench.schemes(POLYNOMIALS)
        elif group == "pspline":
            results[group] = bench.schemes(PSPLINES)
        elif group == "morph":
            results[group] = bench.morph()
        elif group == "overhead":
            results[group] = bench.overhead()
        elif group == "threads":
            results[group] = bench.threads()
        elif group == "batch":
            results[group] = bench.batch()
        elif group == "out":
            results[group] = bench.out()
        elif group == "pool":
            results[group] = bench.pool()
        elif group == "growth":
            results[group] = bench.growth(results.get("1d"))
        else:
            results[group] = bench.memory()
        busy[group] = other.stop()
    elapsed = time.perf_counter() - started

    settings = {"repeats": args.repeats, "case_seconds": args.case_seconds, "budget": args.budget,
                "quick": args.quick, "elapsed": elapsed,
                "command": "python bench/run.py " + " ".join(argv if argv is not None else sys.argv[1:]),
                "load": (load_before, machine.load_average()), "other_load": busy}
    markdown = out / "RESULTS.md"
    picture = out / "results.png"
    drew = report.plot(results, picture)
    markdown.write_text(report.markdown(results, machine.describe(HERE.parent), settings,
                                        picture.name if drew else None))
    bench.log(f"wrote {markdown}" + (f" and {picture}" if drew else " (no plot)")
              + f" after {elapsed:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
