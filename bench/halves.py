"""One of the two processes behind the batch group's ceiling: it corrects its half of a stack on one
worker each time its parent writes a line, and answers with the seconds it took.

    python bench/halves.py SAMPLES COUNT HALF METHOD    (HALF is 0 or 1)
"""

import sys
import time

import numpy as np

import inputs
import quorvel


def main(samples, count, half, method):
    stack = np.stack([inputs.spectrum(samples, seed=inputs.SEED + i) for i in range(count)])
    part = stack[: count // 2] if half == 0 else stack[count // 2 :]
    for _ in range(3):  # the allocator settles, as in the parent's warm-up
        quorvel.correct_many(part, method, workers=1)
    print("ready", flush=True)
    for _ in sys.stdin:
        start = time.perf_counter()
        quorvel.correct_many(part, method, workers=1)
        print(time.perf_counter() - start, flush=True)


if __name__ == "__main__":
    main(int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4])
