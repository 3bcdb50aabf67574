"""RESULTS.md and results.png from the groups' results."""

from __future__ import annotations

import datetime

import timing

PEERS_1D = {
    "asls": "pybaselines `Baseline().asls(lam=1e6, p=0.01, max_iter=50, tol=1e-3, diff_order=2)`",
    "arpls": "pybaselines `Baseline().arpls(lam=1e6, max_iter=50, tol=1e-3, diff_order=2)`",
    "airpls": "pybaselines `Baseline().airpls(lam=1e6, max_iter=50, tol=1e-3, diff_order=2)`",
    "rolling_ball": "pybaselines `Baseline().rolling_ball(half_window=15, smooth_half_window=15)`; "
                    "`scipy.ndimage.grey_opening(y, size=31, mode=\"reflect\")` then "
                    "`uniform_filter1d(size=31)`",
    "polynomial": "`numpy.polynomial.polynomial.polyfit` + `polyval`, order 2 on x in [-1, 1] "
                  "(x built inside the call); pybaselines `Baseline().poly(poly_order=2)`",
    "tophat": "pybaselines `Baseline().tophat(half_window=15)`, once a call and with a reused fitter; "
              "`scipy.ndimage.grey_opening(y, size=31, mode=\"reflect\")`",
    "snip": "pybaselines `Baseline().snip(max_half_window=40)`, once a call and with a reused fitter",
    "rubberband": "pybaselines `Baseline().rubberband()`, once a call and with a reused fitter",
    "noise_median": "pybaselines `Baseline().noise_median(half_window=20)`, once a call and with a reused fitter",
    "peak_filling": "pybaselines `Baseline().peak_filling()`, once a call and with a reused fitter",
    "corner_cutting": "pybaselines `Baseline().corner_cutting()`, once a call and with a reused fitter (its "
                      "baseline follows the data under this convex background, so the deviation is large)",
    "mwmv": "pybaselines `Baseline().mwmv(half_window=20)`, once a call and with a reused fitter",
    "interp_pts": "pybaselines `Baseline().interp_pts(baseline_points=..., interp_method=\"cubic\")` through 25 "
                  "points on its default x of -1 to 1, which quorvel is given (x built inside the call)",
    "mpls": "pybaselines `Baseline().mpls(half_window=20)`, once a call and with a reused fitter",
    "poly": "pybaselines `Baseline().poly()`, once a call and with a reused fitter",
    "modpoly": "pybaselines `Baseline().modpoly()`, once a call and with a reused fitter",
    "imodpoly": "pybaselines `Baseline().imodpoly()`, once a call and with a reused fitter",
    "penalized_poly": "pybaselines `Baseline().penalized_poly()`, once a call and with a reused fitter",
    "quant_reg": "pybaselines `Baseline().quant_reg(eps=1.0)`, once a call and with a reused fitter",
    "loess": "pybaselines `Baseline().loess()`, once a call and with a reused fitter",
    "goldindec": "pybaselines `Baseline().goldindec()`, once a call and with a reused fitter",
    "swima": "pybaselines `Baseline().swima()`, once a call and with a reused fitter",
    "jbcd": "pybaselines `Baseline().jbcd(half_window=20)`, once a call and with a reused fitter",
    "ipsa": "pybaselines `Baseline().ipsa(half_window=20)`, once a call and with a reused fitter",
    "ria": "pybaselines `Baseline().ria(half_window=20)`, once a call and with a reused fitter",
    "pspline_asls": "pybaselines `Baseline().pspline_asls()` at its defaults, once a call and with a reused fitter",
    "pspline_arpls": "pybaselines `Baseline().pspline_arpls()` at its defaults, once a call and with a reused fitter",
    "pspline_airpls": "pybaselines `Baseline().pspline_airpls()` at its defaults, once a call and with a reused fitter",
    "pspline_iarpls": "pybaselines `Baseline().pspline_iarpls()` at its defaults, once a call and with a reused fitter",
    "pspline_psalsa": "pybaselines `Baseline().pspline_psalsa()` at its defaults, once a call and with a reused fitter",
    "pspline_derpsalsa": "pybaselines `Baseline().pspline_derpsalsa()` at its defaults, once a call and with a "
                         "reused fitter",
    "pspline_lsrpls": "pybaselines `Baseline().pspline_lsrpls()` at its defaults, once a call and with a reused fitter",
    "pspline_brpls": "pybaselines `Baseline().pspline_brpls()` at its defaults, once a call and with a reused fitter",
    "pspline_drpls": "pybaselines `Baseline().pspline_drpls()` at its defaults, once a call and with a reused fitter",
    "pspline_iasls": "pybaselines `Baseline().pspline_iasls()` at its defaults, once a call and with a reused fitter",
    "pspline_aspls": "pybaselines `Baseline().pspline_aspls()` at its defaults, once a call and with a reused fitter",
    "mixture_model": "pybaselines `Baseline().mixture_model()` at its defaults, once a call and with a reused fitter",
    "irsqr": "pybaselines `Baseline().irsqr()` at its defaults, once a call and with a reused fitter",
    "pspline_mpls": "pybaselines `Baseline().pspline_mpls(half_window=20)`, once a call and with a reused fitter",
}
PEERS_2D = {
    "asls": "pybaselines `Baseline2D().asls(lam=1e4, p=0.01, max_iter=50, tol=1e-3, diff_order=2)` "
            "with its default `num_eigens=(10, 10)` (approximate: a truncated eigenbasis) and with "
            "`num_eigens=None` (exact: the full linear system)",
    "arpls": "pybaselines `Baseline2D().arpls(lam=1e4, max_iter=50, tol=1e-3, diff_order=2)`, "
             "`num_eigens=(10, 10)` and `num_eigens=None` as for asls",
    "rolling_ball": "`scipy.ndimage.grey_opening(size=(7, 7), mode=\"reflect\")` then "
                    "`uniform_filter(size=7, mode=\"reflect\")`",
    "polynomial": "`numpy.linalg.lstsq` on the nine-column basis x^a y^b, a, b <= 2, on [-1, 1]^2 "
                  "(basis built inside the call)",
    "tophat": "pybaselines `Baseline2D().tophat(half_window=3)`; "
              "`scipy.ndimage.grey_opening(size=(7, 7), mode=\"reflect\")`",
    **{method: f"pybaselines `Baseline2D().{method}()` at its defaults (25 knots an axis), once a call and with a "
               "fitter made once per shape" for method in ("pspline_asls", "pspline_arpls", "mixture_model")},
}


def _reference_defaults(title, subject, data):
    """Methods at the reference library's defaults against its reused fitter, then their batch."""
    out = [f"## {title}", "",
            f"{subject} with the reference library's parameters and defaults, quorvel's `baseline` against "
            "pybaselines with a fitter made once per size (`Baseline(x).method(y)`), timed in turn. "
            "Iterations: quorvel's, then pybaselines' (`len(tol_history)`; for brpls its nonzero inner "
            "entries). Deviation as above; for brpls it includes pybaselines returning the fit before "
            "its last, and aspls amplifies rounding (see the README's guide).", ""]
    out += _table(["method", "n", "iterations", "quorvel", "pybaselines", "ratio", "deviation"],
                  [(method, size_text(n), f"{ours} / {theirs}", seconds_text(mine), seconds_text(peer),
                    f"**{peer / mine:.2f}×**" if peer else "—",
                    f"{deviation:.1e}" if deviation is not None else "—")
                   for method, n, ours, theirs, deviation, mine, peer in data["single"]])
    out += ["", "A loop of `quorvel.correct` calls against `correct_many(stack, method, workers=1)`, whose "
            "lanes fit several spectra at once with each one's own bits.", ""]
    out += _table(["method", "stack", "loop", "1 worker (lanes)", "speed-up"],
                  [(method, f"{count} × {size_text(samples)}", seconds_text(loop), seconds_text(one),
                    f"**{loop / one:.2f}×**")
                   for method, samples, count, loop, one in data["batch"]])
    return out


def seconds_text(seconds):
    if seconds is None:
        return "—"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} µs"
    if seconds < 1.0:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.2f} s"


def ratio_text(value):
    if value is None:
        return "—"
    if value >= 100:
        return f"{value:.0f}×"
    if value >= 10:
        return f"{value:.1f}×"
    return f"{value:.2f}×"


def size_text(n):
    exponent = len(str(n)) - 1
    return f"10^{exponent}" if n == 10**exponent else f"{n:,}"


def _table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return lines + [""]


def _comparison(entries, size_label):
    """Long-format rows: one per size and library, the ratio against quorvel at that size."""
    rows = []
    for size, row in entries:
        reference = row[0]
        for result in row:
            is_reference = result is reference
            rows.append((
                size_label(size) if is_reference else "",
                result.library,
                seconds_text(result.seconds) if result.measured else result.note,
                result.runs or "—",
                "1" if is_reference else ratio_text(timing.ratio(result, reference)),
                result.iterations if result.iterations is not None else "—",
                "—" if is_reference or result.deviation is None else f"{result.deviation:.1e}",
            ))
    header = ["size", "library", "median", "runs", "ratio to quorvel", "iterations",
              "max deviation from quorvel"]
    return _table(header, rows)


def _summary(results):
    rows = []
    for dimension, label in (("1d", "1-D"), ("2d", "2-D")):
        for method, entries in results.get(dimension, {}).items():
            for size, row in reversed(entries):
                peers = [r for r in row[1:] if r.measured]
                if row[0].measured and peers:
                    fastest = min(peers, key=lambda r: r.seconds)
                    slowest = max(peers, key=lambda r: r.seconds)
                    shown = f"{size}²" if dimension == "2d" else size_text(size)
                    rows.append((f"{label} {method}", shown, seconds_text(row[0].seconds),
                                 f"{fastest.library} {seconds_text(fastest.seconds)}",
                                 ratio_text(timing.ratio(fastest, row[0])),
                                 ratio_text(timing.ratio(slowest, row[0])) if slowest is not fastest else "—"))
                    break
    if not rows:
        return []
    return ["## Summary", "",
            "At the largest size where quorvel and at least one peer both ran. Ratios are the peer's "
            "median over quorvel's: above 1 quorvel is faster.", ""] + _table(
        ["group", "size", "quorvel", "fastest peer", "its ratio", "slowest peer's ratio"], rows)


def markdown(results, machine_rows, settings, picture):
    when = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    out = ["# quorvel benchmarks", "",
           f"`{settings['command'].strip()}`, {when}, {settings['elapsed'] / 60:.1f} minutes. "
           f"Each case is the median of up to {settings['repeats']} samples after a warm-up call, fewer "
           f"where that would take over {settings['case_seconds']:.0f} s (then without warm-up, at "
           f"least one); calls under 20 ms are looped within a sample. A peer whose call is expected "
           f"to exceed {settings['budget']:.0f} s, extrapolated from its smaller sizes, is skipped; "
           "quorvel never is. All libraries see the same arrays, made once per size with a fixed "
           "seed, in one process. Ratios are the peer's median over quorvel's: above 1 quorvel is "
           "faster. The deviation is the largest |peer baseline − quorvel baseline| over the input's "
           "peak-to-peak range: small means both solved the same problem.", ""]
    if settings["quick"]:
        out += ["**Quick run: smallest sizes and one repeat; a smoke test, not a measurement.**", ""]
    if picture:
        out += [f"![Median time against size, log-log]({picture})", ""]
    before, after = settings["load"]
    if before and after:
        machine_rows = machine_rows + [("Load average (1, 5, 15 min)",
                                        f"{before[0]:.2f}, {before[1]:.2f}, {before[2]:.2f} at the start; "
                                        f"{after[0]:.2f}, {after[1]:.2f}, {after[2]:.2f} at the end")]
    other = settings.get("other_load") or {}
    if any(v is not None for v in other.values()):
        machine_rows = machine_rows + [("Other processes' load", ", ".join(
            f"{group} {cores:.2f}" for group, cores in other.items() if cores is not None)
            + " cores on average while each group ran")]
    out += ["## Machine", ""] + _table(["", ""], machine_rows)
    out += _summary(results)

    if "1d" in results:
        out += ["## 1-D spectra", "",
                "Gaussian and Lorentzian peaks (2–25 samples wide, one per 400 samples) on a curved "
                "background with noise. quorvel runs with its fixed defaults (`quorvel.baseline(y, method)`); "
                "a new pybaselines `Baseline` per call, as its functional interface does.", ""]
        for method, entries in results["1d"].items():
            out += [f"### {method}", "", f"Peers: {PEERS_1D[method]}.", ""]
            out += _comparison(entries, size_text)
    if "2d" in results:
        out += ["## 2-D images", "",
                "Gaussian spots on a smooth tilted, curved surface with noise. quorvel runs "
                "`quorvel.baseline_2d(data, method)`; a new pybaselines `Baseline2D` per call. "
                "quorvel's iteration count is not exposed; pybaselines' is the length of its "
                "`tol_history`.", ""]
        for method, entries in results["2d"].items():
            out += [f"### {method}", "", f"Peers: {PEERS_2D[method]}.", ""]
            out += _comparison(entries, lambda side: f"{side}²")
    if "overhead" in results:
        out += ["## Call overhead", "", "A 16-sample spectrum, each call clocked on its own.", ""]
        out += _table(["call", "calls", "10th percentile", "median", "90th percentile"],
                      [(label, calls, f"{p10:.2f} µs", f"**{p50:.2f} µs**", f"{p90:.2f} µs")
                       for label, calls, p10, p50, p90 in results["overhead"]])
    if "threads" in results:
        rows = results["threads"]
        count = rows[0][1] if rows else 0
        out += ["## Threads", "",
                f"{count} different 10^4-sample spectra, `quorvel.baseline(y, method)` on each, "
                "split evenly over 1 or 2 Python threads. Speed-up is the 1-thread time over the "
                "2-thread time; 2 is the most two cores allow. Cores busy is the process's CPU time "
                "over wall time in the last 2-thread run: near 2 both threads computed at once, near 1 "
                "they took turns (a held lock, or other load on the machine).", ""]
        out += _table(["method", "1 thread", "spectra/s", "2 threads", "spectra/s", "speed-up", "cores busy"],
                      [(method, seconds_text(one), f"{n / one:,.0f}", seconds_text(two),
                        f"{n / two:,.0f}", f"{one / two:.2f}", f"{busy:.2f}")
                       for method, n, one, two, busy in rows])
    if "out" in results:
        out += ["## A reused result array", "",
                "The polynomial's correction of one 10^6-sample spectrum: the fit alone (the block function "
                "called on private rows into a reused buffer), the front door writing into a reused `out`, "
                "and the front door making a new result. Extra: the time per sample beyond the fit alone.", ""]
        rows = results["out"]
        alone = rows[0][2] / rows[0][1] if rows else 0.0
        out += _table(["call", "samples", "time", "per sample", "extra"],
                      [(label, size_text(n), seconds_text(seconds), f"{seconds / n * 1e9:.2f} ns",
                        f"**{(seconds / n - alone) * 1e9:+.2f} ns**") for label, n, seconds in rows])
    if "batch" in results:
        out += ["## Batch", "",
                "Stacks of spectra: a loop of one-spectrum calls `quorvel._native.correct(y, method)`, then "
                "`quorvel.correct_many(stack, method)` on one worker (`workers=1`, the ratio to the loop) and "
                "on two (the ratio to one worker); every spectrum gets the same bits on every path. The ceiling "
                "is what two processes reach together, each correcting half the stack on one worker at the same "
                "time (`bench/halves.py`); the default pool (`workers=None`) is compared with one worker. "
                "chemotools' transformers (`AsLs`, `ArPls`, `AirPls` with lam=1e6, 50 iterations) correct the "
                "same stack where they compute a comparable method.", ""]
        out += _table(["method", "stack", "loop", "1 worker", "vs loop", "2 workers", "vs 1 worker", "2 processes",
                       "2 workers of 2 processes", "default vs 1 worker", "chemotools"],
                      [(method, f"{count} × {size_text(samples)}", seconds_text(loop), seconds_text(one),
                        f"**{loop / one:.2f}×**", seconds_text(two), f"**{one / two:.2f}×**", seconds_text(ceiling),
                        f"**{ceiling / two:.0%}**", f"{one / default:.2f}×", seconds_text(peer))
                       for method, samples, count, loop, one, two, ceiling, default, peer in results["batch"]])
    if "schemes" in results:
        out += _reference_defaults("Whittaker schemes", "Each scheme", results["schemes"])
    if "poly" in results:
        out += _reference_defaults("Polynomial family", "Each polynomial method (quant_reg with eps=1)",
                                   results["poly"])
    if "pspline" in results:
        out += _reference_defaults("P-spline family", "Each P-spline method", results["pspline"])
    if "morph" in results:
        out += ["## Morphological baselines with estimated windows", "",
                "The morphological methods whose window the data decide, quorvel's `baseline` against pybaselines with a fitter made once per size, timed in "
                "turn: with the window given (the one both estimate) and left to the data (`half_window=None`, "
                "pybaselines' `optimize_window`). Window and iterations: quorvel's, then pybaselines'.", ""]
        out += _table(["method", "n", "window", "window, iterations", "quorvel", "pybaselines", "ratio",
                       "deviation"],
                      [(method, size_text(n), "estimated" if estimated else "given",
                        f"{ours[0]}, {ours[1]} / {theirs[0]}, {theirs[1]}" if theirs else f"{ours[0]}, {ours[1]}",
                        seconds_text(mine), seconds_text(peer), f"**{peer / mine:.1f}×**" if peer else "—",
                        f"{deviation:.1e}" if deviation is not None else "—")
                       for method, n, estimated, ours, theirs, deviation, mine, peer in results["morph"]])
    if "pool" in results:
        out += ["## The default pool", "",
                "`quorvel.correct_many(stack, method)` with the default pool (one worker per CPU) against "
                "`workers=1`, on stacks of 1,000-sample spectra; above 1× the pool is faster.", ""]
        counts = sorted({count for _, count, _, _ in results["pool"]})
        methods = list(dict.fromkeys(method for method, _, _, _ in results["pool"]))
        ratio = {(method, count): one / default for method, count, one, default in results["pool"]}
        out += _table(["method", *(f"{count} spectra" for count in counts)],
                      [(method, *(f"{ratio[method, count]:.2f}×" for count in counts)) for method in methods])
    if "grid" in results:
        out += ["## Grid solvers", "",
                "`quorvel.fit_2d(image, method)` with the default solver (banded Cholesky for small grids, "
                "conjugate gradients of at most 500 steps otherwise) and with `solver=\"multigrid\"`, against "
                "pybaselines' approximate default. Distance: |baseline − reference| over the image's range, "
                "where the reference is the same fit with every solve converged to 1e-12.", ""]
        out += _table(["method", "grid", "solver", "time", "iterations", "distance (max)", "distance (rms)"],
                      [(method, f"{side}²", label, seconds_text(seconds), iterations, f"{worst:.1e}", f"{rms:.1e}")
                       for method, side, label, seconds, iterations, worst, rms in results["grid"]])
    if "growth" in results:
        growth = results["growth"]
        sizes = sorted({n for entries in growth.values() for n, _ in entries})
        out += ["## Cost growth", "",
                "quorvel's median time per sample. The exponent is the log-log slope of time "
                "against n: 1 is linear cost.", ""]
        rows = []
        for method, entries in growth.items():
            per = dict(entries)
            cells = [f"{per[n] / n * 1e9:.1f} ns" if per.get(n) else "—" for n in sizes]
            exponent = timing.growth_exponent([n for n, _ in entries], [t for _, t in entries])
            rows.append((method, *cells, "—" if exponent is None else f"{exponent:.2f}"))
        out += _table(["method", *(f"n = {size_text(n)}" for n in sizes), "exponent"], rows)
    if "memory" in results:
        out += ["## Peak memory", "",
                "Each fit in a fresh process (`bench/memprobe.py`): growth of the process's peak "
                "resident set over the fit. A small fit first loads every module; the input is then "
                "made and the peak reset (`/proc/self/clear_refs`), so neither counts, and the peak "
                "is read from `VmHWM` in `/proc/self/status`. `getrusage(RUSAGE_SELF).ru_maxrss` "
                "would not do here: a child started by fork and exec inherits its parent's peak in "
                "it, and the parent is hundreds of MiB by then.", ""]
        if any(not row.get("peak_reset", True) for row in results["memory"] if not row["note"]):
            out += ["**The peak could not be reset on this machine: growth includes making the input.**", ""]
        rows = []
        for row in results["memory"]:
            size = f"{row['size']}²" if row["what"].startswith("2") else size_text(row["size"])
            if row["note"]:
                rows.append((row["what"], row["library"], size, "—", row["note"], "—", "—"))
                continue
            grown = (row["after_kib"] - row["before_kib"]) / 1024.0
            data = row["input_bytes"] / 2**20
            rows.append((row["what"], row["library"], size, f"{data:.2f} MiB", f"{grown:.2f} MiB",
                         f"{grown / data:.1f}", seconds_text(row["seconds"])))
        out += _table(["fit", "library", "size", "input", "peak growth", "growth / input", "time"], rows)
    return "\n".join(out)


def _colour(library):
    """The same colour for a library in every panel."""
    for prefix, colour in (("quorvel", "C0"), ("pybaselines (exact)", "C3"), ("pybaselines", "C1"),
                           ("scipy", "C2"), ("numpy", "C4")):
        if library.startswith(prefix):
            return colour
    return None


def plot(results, path):
    """One log-log panel per method and dimension; False when matplotlib is missing or nothing ran."""
    panels = [(f"1-D {method}", "samples", entries, lambda n: n)
              for method, entries in results.get("1d", {}).items()]
    panels += [(f"2-D {method}", "pixels", entries, lambda side: side * side)
               for method, entries in results.get("2d", {}).items()]
    if not panels:
        return False
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    columns = 3
    rows = -(-len(panels) // columns)
    figure, axes = plt.subplots(rows, columns, figsize=(5.0 * columns, 3.8 * rows), squeeze=False)
    for ax, (title, unit, entries, elements) in zip(axes.flat, panels):
        libraries = [r.library for r in entries[0][1]]
        for library in libraries:
            points = [(elements(size), r.seconds) for size, row in entries for r in row
                      if r.library == library and r.measured]
            if points:
                xs, ys = zip(*points)
                ax.plot(xs, ys, marker="o", linewidth=2.2 if library == "quorvel" else 1.2, label=library,
                        color=_colour(library))
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title(title)
        ax.set_xlabel(unit)
        ax.set_ylabel("median seconds")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize="small")
    for ax in list(axes.flat)[len(panels):]:
        ax.axis("off")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return True
