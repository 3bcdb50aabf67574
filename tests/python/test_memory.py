import json
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from quorvel import _native
from support import (NATIVE_INVALID_1D, NATIVE_INVALID_2D, NATIVE_METHODS, NATIVE_METHODS_2D, check_raises,
                     make_spectrum)


@pytest.mark.parametrize("function, shape", [
    (_native.correct, (2 ** 50,)), (_native.baseline, (2 ** 46,)), (_native.correct_2d, (2 ** 25, 2 ** 25)),
    (_native.baseline_2d, (2 ** 59, 1)), (_native.baseline_2d, (1, 2 ** 46)),
])
@pytest.mark.parametrize("fill", [1.0, np.nan])
def test_uncopyable_input_raises_memory_error(function, shape, fill):
    spectrum = make_spectrum()
    expected = _native.correct(spectrum, "arpls")
    huge = np.broadcast_to(np.float64(fill), shape)
    for method in NATIVE_METHODS if huge.ndim == 1 else NATIVE_METHODS_2D:  # the copy comes before the values are looked at
        with pytest.raises(MemoryError):
            function(huge, method)
    assert np.array_equal(_native.correct(spectrum, "arpls"), expected)
    # an unknown name is reported before the input is copied
    check_raises(ValueError, NATIVE_INVALID_1D if huge.ndim == 1 else NATIVE_INVALID_2D, function, huge, "bogus")


# Run in a child process: it caps its own address space a little above what it uses, so that the copy of
# the input fits and what the method needs next does not, and reports what each call gave.
CAPPED = """
import json, os, resource, sys
import numpy as np
from quorvel import _native

def used():
    with open("/proc/self/statm") as statm:
        return [int(pages) * os.sysconf("SC_PAGE_SIZE") for pages in statm.read().split()[:2]]

function, method, shape = getattr(_native, sys.argv[1]), sys.argv[2], json.loads(sys.argv[3])
data = np.full(shape, 2.0) + np.linspace(0.0, 1.0, shape[-1])
small = data[(slice(0, 9),) * data.ndim]
expected, expected_small = function(data, method).tobytes(), function(small, method).tobytes()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
report = []
for room in json.loads(sys.argv[4]):
    before = used()
    resource.setrlimit(resource.RLIMIT_AS, (before[0] + int(room * data.nbytes), hard))
    try:
        outcome = function(data, method).tobytes() == expected
    except MemoryError:
        outcome = "MemoryError"
    small_ok = function(small, method).tobytes() == expected_small
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    report.append([room, outcome, small_ok] + [a - b for a, b in zip(used(), before)])
print(json.dumps(report))
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs RLIMIT_AS and /proc/self/statm")
@pytest.mark.parametrize("function, method, shape", [
    ("correct", "asls", [2 ** 18]), ("baseline_2d", "arpls", [512, 1024]), ("correct_2d", "rolling_ball", [512, 1024]),
])
def test_running_out_of_memory_midway_raises_memory_error_and_frees_everything(function, method, shape):
    rooms = [0.5, 1.5, 2.5, 4.5, 8.5, 32.0]
    # a fixed threshold makes every large block a mapping of its own, returned to the system when freed
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="262144")
    child = subprocess.run([sys.executable, "-c", CAPPED, function, method, json.dumps(shape), json.dumps(rooms)],
                           env=env, capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, child.stderr
    report = json.loads(child.stdout)
    outcomes = {room: outcome for room, outcome, *_ in report}
    # room for the copy of the input but not for the result
    assert outcomes[1.5] == "MemoryError" and outcomes[32.0] is True
    for room, outcome, small_ok, mapped, resident in report:
        assert outcome in ("MemoryError", True) and small_ok, room
        assert mapped <= 2 ** 20 and resident <= 2 ** 20, room


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs RLIMIT_AS")
@pytest.mark.parametrize("kept", [0.8, 0.4])
def test_an_ill_conditioned_mask_needs_no_basis_per_point(kept):
    # 121 terms at a million points would be a basis of about 1 GB; the surface must fit in a tenth of that, also
    # where the normal equations are too ill-conditioned to factorise exactly (0.4).
    child = subprocess.run([sys.executable, "-c", CAPPED_SURFACE, str(kept)], capture_output=True, text=True,
                           timeout=300, cwd=Path(__file__).parent)
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["True"]


CAPPED_SURFACE = """
import resource
import sys
import numpy as np
import quorvel
from test_polynomial_surfaces import banded

x, z, data, used = banded(1024, 1024, float(sys.argv[1]))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
with open("/proc/self/statm") as statm:
    mapped = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (mapped + 100 * 2**20, hard))
print(np.all(np.isfinite(quorvel.baseline_2d(data, "poly", mask=used, poly_order=10))))
"""
