"""Running a stack's items on the calling thread and a few helper threads, never slower than on one.

The helpers are kept between calls: a call hands them work without waiting for threads to start,
which on a virtual machine can take longer than a small stack's whole fit. A forked child starts
with none and makes its own.
"""

from __future__ import annotations

import os
import threading
import time
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Callable, List, Optional, Tuple

import numpy as np

from ._engine import Failure

Run = Callable[[int, int], Optional[Failure]]

# Enough chunks per worker to even out items of unequal cost, few enough that each chunk still fills
# the native code's lanes.
BLOCKS_PER_WORKER = 8
LANE_FILL = 16
# Handing work to a helper costs tens of microseconds, waking an idle virtual CPU can cost far more;
# work that one thread finishes within this stays on it. No method fits SURELY_WORTH_THREADS samples
# that fast.
SERIAL_BELOW_SECONDS = 2e-3
SURELY_WORTH_THREADS = 1 << 18
CPUS = os.cpu_count() or 1  # asked once: it reads a file on every call


class _Helpers:
    """The helper threads, made when first needed and grown when a call asks for more."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._executor: Optional[ThreadPoolExecutor] = None
        self._size = 0

    def submit(self, count: int, work: Callable[[], None]) -> List[Future[None]]:
        with self._lock:
            if self._executor is None or self._size < count:
                if self._executor is not None:
                    self._executor.shutdown(wait=False)
                self._executor = ThreadPoolExecutor(count, thread_name_prefix="quorvel")
                self._size = count
            return [self._executor.submit(work) for _ in range(count)]

    def forget(self) -> None:
        """In a forked child: the parent's threads do not exist there."""
        self._lock = threading.Lock()
        self._executor, self._size = None, 0


_HELPERS = _Helpers()
if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_HELPERS.forget)


def run_pool(count: int, size: int, workers: int, run: Run) -> List[Optional[Failure]]:
    """``run`` over items ``[0, count)`` of ``size`` samples on up to ``workers`` threads.

    A stack too small to be sure of first has a probe of items fitted on the calling thread, timed: if
    the rest would take that thread less than handing it out costs, it stays there.
    """
    if workers == 1 or count <= 1:
        return [run(0, count)]
    if count * size >= SURELY_WORTH_THREADS:
        return run_chunks(chunks(count, workers), workers, run)
    probe = min(LANE_FILL, count)  # a full block, so that the lanes' economy shows in the estimate
    started = time.perf_counter()
    first = run(0, probe)
    if first is not None or probe == count:
        return [first]
    if (time.perf_counter() - started) / probe * (count - probe) < SERIAL_BELOW_SECONDS:
        return [run(probe, count)]
    return run_chunks([(start + probe, stop + probe) for start, stop in chunks(count - probe, workers)], workers, run)


def run_chunks(parts: List[Tuple[int, int]], workers: int, run: Run) -> List[Optional[Failure]]:
    """``run`` on every chunk; the calling thread takes chunks too, and each thread takes the next free
    chunk, so uneven chunks balance."""
    outcomes: List[Optional[Failure]] = [None] * len(parts)
    errors: List[BaseException] = []
    pending = iter(range(len(parts)))
    lock = threading.Lock()

    def work() -> None:
        while True:
            with lock:
                k = next(pending, None)
            if k is None or errors:
                return
            try:
                outcomes[k] = run(*parts[k])
            except BaseException as error:  # MemoryError, say: raised again in the caller
                errors.append(error)

    helpers = _HELPERS.submit(min(workers, len(parts)) - 1, work)
    work()
    for helper in helpers:
        helper.result()
    if errors:
        raise errors[0]
    return outcomes


def chunks(count: int, workers: int) -> List[Tuple[int, int]]:
    """Contiguous index ranges: a few per worker so that uneven items balance out, but rarely fewer
    than LANE_FILL items each, which the native lanes need to stay busy."""
    pieces = max(min(workers, count), min(count // LANE_FILL, BLOCKS_PER_WORKER * workers), 1)
    bounds = np.linspace(0, count, pieces + 1).astype(np.int64)
    return [(int(a), int(b)) for a, b in zip(bounds[:-1], bounds[1:]) if b > a]
