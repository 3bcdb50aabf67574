"""Clocking one call repeatedly, within a time cap, and deciding when a case is too slow to try."""

from __future__ import annotations

import math
import statistics
import time
from dataclasses import dataclass, field
from typing import Any, Callable

# Calls quicker than this are looped so that the clock's resolution and the loop's own
# cost stay well below a percent of each sample.
MIN_SAMPLE_SECONDS = 0.02
MAX_INNER_CALLS = 10_000


@dataclass
class Timing:
    """One library's result for one input: the median of `runs` samples, or why there is none."""

    library: str
    size: int
    seconds: float | None = None
    runs: int = 0
    samples: list = field(default_factory=list)
    note: str = ""
    iterations: int | None = None
    deviation: float | None = None
    output: Any = field(default=None, repr=False)

    @property
    def measured(self):
        return self.seconds is not None


def _clock(call, inner):
    start = time.perf_counter()
    for _ in range(inner):
        out = call()
    return (time.perf_counter() - start) / inner, out


def measure(call: Callable[[], Any], repeats: int, case_seconds: float):
    """Median seconds per call of `call()`, its samples, and the last output.

    The first call is a warm-up whenever all `repeats` samples fit in `case_seconds`
    afterwards; otherwise it counts as a sample and fewer repeats are taken, never fewer
    than one, so a slow case costs about `case_seconds` and not `repeats` times its call.
    """
    first, out = _clock(call, 1)
    inner = 1
    if first < MIN_SAMPLE_SECONDS:
        inner = min(MAX_INNER_CALLS, math.ceil(MIN_SAMPLE_SECONDS / max(first, 1e-7)))
    left = case_seconds - first
    if left >= repeats * first * inner:
        samples = []
        for _ in range(repeats):
            seconds, out = _clock(call, inner)
            samples.append(seconds)
    else:
        samples = [first]
        for _ in range(min(repeats - 1, max(0, int(left // first)))):
            seconds, out = _clock(call, 1)
            samples.append(seconds)
    return statistics.median(samples), samples, out


def interleaved(calls, repeats):
    """Median seconds per call of each of `calls` (a dict of label to call), clocked in turn within each
    repeat, so that a machine whose speed drifts affects every label alike. Quick calls are looped as in
    `measure`."""
    inner = {}
    for label, call in calls.items():
        first, _ = _clock(call, 1)
        inner[label] = min(MAX_INNER_CALLS, math.ceil(MIN_SAMPLE_SECONDS / max(first, 1e-7)))
    samples = {label: [] for label in calls}
    for _ in range(repeats):
        for label, call in calls.items():
            samples[label].append(_clock(call, inner[label])[0])
    return {label: statistics.median(values) for label, values in samples.items()}


def predict(history, size):
    """Seconds a call at `size` should take, from earlier (size, seconds) of the same case.

    One point extrapolates linearly, the least any of these methods can cost per element;
    two or more use the growth seen between the last two sizes, kept within linear and cubic.
    Returns None when nothing is known yet.
    """
    points = [(s, t) for s, t in history if t is not None and t > 0 and s < size]
    if not points:
        return None
    points.sort()
    last_size, last_seconds = points[-1]
    exponent = 1.0
    if len(points) >= 2:
        prev_size, prev_seconds = points[-2]
        exponent = math.log(last_seconds / prev_seconds) / math.log(last_size / prev_size)
        exponent = min(3.0, max(1.0, exponent))
    return last_seconds * (size / last_size) ** exponent


def skip_note(history, size, budget):
    """The note that marks a case as skipped, or "" when it is expected to fit `budget` seconds."""
    expected = predict(history, size)
    if expected is not None and expected > budget:
        return f"skipped (> budget {budget:.0f} s, est. {expected:.0f} s)"
    return ""


def ratio(peer: Timing, reference: Timing):
    """Peer's median over the reference's: above 1 the reference is faster."""
    if peer.measured and reference.measured and reference.seconds > 0:
        return peer.seconds / reference.seconds
    return None


def growth_exponent(sizes, seconds):
    """Least-squares slope of log time against log size: 1 is linear cost."""
    pairs = [(math.log(s), math.log(t)) for s, t in zip(sizes, seconds) if t]
    if len(pairs) < 2:
        return None
    mx = sum(p[0] for p in pairs) / len(pairs)
    my = sum(p[1] for p in pairs) / len(pairs)
    sxx = sum((p[0] - mx) ** 2 for p in pairs)
    return sum((p[0] - mx) * (p[1] - my) for p in pairs) / sxx
