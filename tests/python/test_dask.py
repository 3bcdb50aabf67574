import importlib
import subprocess
import sys

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
import dask  # noqa: E402

import quorvel  # noqa: E402
import quorvel.dask as qd  # noqa: E402
from support import INVALID_1D, INVALID_2D, check_raises  # noqa: E402

CUBE = np.random.default_rng(5).random((12, 5, 64)) + np.linspace(0.0, 2.0, 64)

NOT_FLOAT64 = "arr must be a float64 dask.array.Array or numpy.ndarray, not "

MASK = np.random.default_rng(6).random(CUBE.shape) > 0.1

# (lazy function, in-memory function, method, keywords, chunks): the spectral axis split or not.
CASES = [
    (qd.correct, quorvel.correct_many, "arpls", {"axis": -1}, (4, 2, 16)),
    (qd.correct, quorvel.correct_many, "airpls", {"axis": -1, "mask": MASK, "stop": "residuals"}, (4, 2, 16)),
    (qd.baseline, quorvel.baseline_many, "polynomial", {"axis": 1}, (5, 3, -1)),
    (qd.correct, quorvel.correct_many, "rolling_ball", {"axis": 0}, (-1, 5, 64)),
    (qd.correct_2d, quorvel.correct_2d_many, "asls", {"axes": (0, 2)}, (5, 2, 30)),
    (qd.baseline_2d, quorvel.baseline_2d_many, "rolling_ball", {"axes": (-2, -1), "half_window": (1, 5)}, (7, 5, 64)),
    (qd.baseline, quorvel.baseline_many, "asls", {"axis": -1}, None),  # a NumPy array, wrapped
]


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(
            cluster, set_as_default=False) as client:
        yield client


@pytest.fixture(params=["threads", "distributed"])
def compute(request):
    if request.param == "threads":
        return lambda lazy: lazy.compute(scheduler="threads")
    client = request.getfixturevalue("client")
    return lambda lazy: client.compute(lazy).result()


@pytest.mark.parametrize("lazy, eager, method, where, chunks", CASES)
def test_blocks_give_the_bits_of_the_in_memory_batch(compute, lazy, eager, method, where, chunks):
    result = lazy(CUBE if chunks is None else da.from_array(CUBE, chunks=chunks), method, **where)
    for axis in where.get("axes", [where.get("axis")]):
        assert len(result.chunks[axis]) == 1
    expected = eager(CUBE, method, **where)
    assert result.dtype == np.float64 and compute(result).tobytes() == expected.tobytes()


@pytest.mark.parametrize("lazy, eager, where", [
    (qd.correct, quorvel.correct_many, {"axis": -1}),
    (qd.baseline_2d, quorvel.baseline_2d_many, {"axes": (2, 1)}),
])
def test_bad_data_raises_at_compute_with_its_global_index(compute, lazy, eager, where):
    data = CUBE.copy()
    data[7, 3, 40] = np.nan
    result = lazy(da.from_array(data, chunks=(4, 2, 16)), "asls", **where)  # builds without computing
    with pytest.raises(ValueError) as in_memory:
        eager(data, "asls", **where)
    assert str(in_memory.value).startswith(("spectrum (7, 3): ", "image (7,): "))
    check_raises(ValueError, str(in_memory.value), compute, result)


def test_an_unknown_block_offset_names_the_block():
    data = CUBE.copy()
    data[7, 3, 40] = np.nan
    data = da.from_array(data, chunks=(4, 2, 16))
    data = data[data[:, 0, 0] > -1.0]  # unknown lengths along axis 0
    check_raises(ValueError, "spectrum (3, 1) of block (1, 1): input contains a non-finite value at index 40; "
                 "pass mask= with False there to leave such samples out of the fit",
                 qd.correct(data).compute, scheduler="threads")


@pytest.mark.parametrize("call, error, message", [
    (lambda: qd.correct(da.zeros(5, dtype=np.float32)), TypeError, NOT_FLOAT64 + "an array of dtype float32"),
    (lambda: qd.correct([1.0, 2.0, 3.0]), TypeError, NOT_FLOAT64 + "list"),
    (lambda: qd.baseline(da.zeros((3, 4)), axis=2), ValueError, "axis 2 is out of range for an array of 2 dimensions"),
    (lambda: qd.correct(da.zeros((3, 4)), "bogus"), ValueError, INVALID_1D),
    (lambda: qd.correct_2d(da.zeros((3, 4)), "derpsalsa"), ValueError, INVALID_2D),
    (lambda: qd.baseline_2d(da.zeros((3, 4, 5)), axes=(0, 1, 2)), ValueError, "axes must name two axes, not (0, 1, 2)"),
])
def test_bad_arguments_raise_when_the_graph_is_built(call, error, message):
    check_raises(error, message, call)


def test_other_axes_keep_their_chunks_unless_blocks_outgrow_the_limit():
    data = da.from_array(CUBE, chunks=(4, 2, 16))
    assert qd.correct(data).chunksize == (4, 2, 64)
    with dask.config.set({"array.chunk-size": "2KiB"}):
        assert np.prod(qd.correct(data).chunksize) * 8 <= 2048


def test_plain_import_does_not_load_dask():
    code = "import sys, quorvel; sys.exit('dask' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", code]).returncode == 0


def test_import_without_dask_says_what_to_install(monkeypatch):
    monkeypatch.setitem(sys.modules, "dask", None)
    monkeypatch.delitem(sys.modules, "quorvel.dask")
    check_raises(ImportError, "quorvel.dask needs dask: pip install 'quorvel[dask]'",
                 importlib.import_module, "quorvel.dask")
