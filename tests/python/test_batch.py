import multiprocessing
import os
import pickle

import numpy as np
import pytest

import quorvel
from support import HINT, INVALID_1D, bits, check_raises

CUBE = np.random.default_rng(3).random((4, 5, 64)) + np.linspace(0.0, 2.0, 64)
MASK = np.indices(CUBE.shape).sum(axis=0) % 5 != 0  # at most one in five samples left out along any axis


def pool(monkeypatch, workers):
    """``workers``, where "threads" means two workers that start their threads however cheap the stack and
    split it into many chunks of a few items, each fitted a few items at a time."""
    if workers == "threads":
        monkeypatch.setattr(quorvel._pool, "SERIAL_BELOW_SECONDS", 0.0)
        monkeypatch.setattr(quorvel._pool, "LANE_FILL", 3)
        monkeypatch.setattr(quorvel.batch, "CACHED_SAMPLES", 1)
        return 2
    return workers


@pytest.mark.parametrize("workers", [1, 2, None, "threads"])
@pytest.mark.parametrize("axes", [(-1,), (0,), (1,), (-2, -1), (0, 2), (2, 0)])
@pytest.mark.parametrize("method, params, masked", [
    ("asls", {}, False), ("rolling_ball", {}, False), ("asls", {"lam": 1e4, "p": 0.05}, True),
    ("poly", {"poly_order": 1}, True), ("pspline_arpls", {"num_knots": 3, "spline_degree": 2}, True),
])
def test_every_item_gets_the_bits_of_a_single_call(monkeypatch, workers, axes, method, params, masked):
    workers = pool(monkeypatch, workers)
    data = np.asfortranarray(CUBE)[:, ::-1, :]
    before, mask = data.copy(), MASK if masked else None
    ndim, where = len(axes), {"axis": axes[0]} if len(axes) == 1 else {"axes": axes}
    last = tuple(range(-ndim, 0))
    items, flags = np.moveaxis(data, axes, last), np.moveaxis(MASK, axes, last)
    rows = items.reshape(-1, *items.shape[-ndim:])
    row_masks = flags.reshape(rows.shape) if masked else [None] * len(rows)
    pairs = [(quorvel.correct_many, quorvel.correct), (quorvel.baseline_many, quorvel.baseline)] if ndim == 1 else [
        (quorvel.correct_2d_many, quorvel.correct_2d), (quorvel.baseline_2d_many, quorvel.baseline_2d)]
    for many, one in pairs:
        result = many(data, method, **where, workers=workers, mask=mask, **params)
        expected = [one(row, method, mask=row_mask, **params) for row, row_mask in zip(rows, row_masks)]
        assert bits(np.moveaxis(result, axes, last)) == bits(np.reshape(expected, items.shape))
        assert result.shape == data.shape and result.flags.c_contiguous and not np.shares_memory(result, data)
    assert np.array_equal(data, before)


@pytest.mark.parametrize("workers", [1, 2, "threads"])
def test_the_first_failing_spectrum_is_reported(monkeypatch, workers):
    workers = pool(monkeypatch, workers)
    data = CUBE.copy()
    data[2, 3, 0] = np.inf
    data[1, 2, 12] = np.nan
    check_raises(ValueError, "spectrum (1, 2): input contains a non-finite value at index 12" + HINT,
                 quorvel.correct_many, data, "asls", workers=workers)
    check_raises(ValueError, "image (0,): input contains a non-finite value at index 13 (row 2, column 3)" + HINT,
                 quorvel.correct_2d_many, data[:, :, :4], axes=(0, 1), workers=workers)
    with pytest.raises(quorvel.batch.ItemError) as caught:
        quorvel.baseline_many(data, "poly", workers=workers)
    copy = pickle.loads(pickle.dumps(caught.value))  # crosses process boundaries intact
    assert (copy.noun, copy.index, str(copy)) == ("spectrum", (1, 2), str(caught.value))


@pytest.mark.parametrize("workers", [1, "threads"])
def test_a_failure_is_placed_at_its_item_wherever_its_chunk_and_block_begin(monkeypatch, workers):
    workers = pool(monkeypatch, workers)
    for item in range(20):
        data = CUBE.copy()
        data.reshape(20, 64)[item, 5] = np.nan
        with pytest.raises(quorvel.batch.ItemError) as caught:
            quorvel.correct_many(data, "poly", workers=workers)
        assert caught.value.index == np.unravel_index(item, (4, 5))


@pytest.mark.parametrize("stack, method, shared", [
    (CUBE, "poly", False),  # microseconds of work: other threads would only cost
    (np.tile(CUBE, (8, 1, 16)), "asls", True),  # tens of milliseconds: the calling thread and one more
])
def test_threads_share_only_stacks_worth_sharing(monkeypatch, stack, method, shared):
    # Which threads end up fitting depends on the scheduler (a busy machine may leave the calling thread all the
    # chunks); the decision to hand chunks out does not.
    handed_out = []
    run_chunks = quorvel._pool.run_chunks

    def recorded(parts, workers, run):
        handed_out.append(workers)
        return run_chunks(parts, workers, run)

    monkeypatch.setattr(quorvel._pool, "run_chunks", recorded)
    assert bits(quorvel.correct_many(stack, method, workers=2)) == bits(quorvel.correct_many(stack, method, workers=1))
    assert handed_out == ([2] if shared else [])


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork here")
def test_a_forked_child_fits_on_threads_of_its_own():
    stack = np.tile(CUBE, (8, 1, 16))
    expected = quorvel.correct_many(stack, "asls", workers=2)  # the parent's helper threads exist now
    with multiprocessing.get_context("fork").Pool(1) as children:
        result = children.apply_async(quorvel.correct_many, (stack, "asls"), {"workers": 2}).get(timeout=60)
    assert bits(result) == bits(expected)


@pytest.mark.parametrize("call, error, message", [
    (lambda: quorvel.correct_many(CUBE, "bogus"), ValueError, INVALID_1D),
    (lambda: quorvel.correct_many(CUBE + 1j), TypeError, "data must hold real numbers; got ndarray of dtype complex128 and shape (4, 5, 64)"),
    (lambda: quorvel.correct_many([[1.0], "ab"]), TypeError, None),
    (lambda: quorvel.baseline_many(CUBE, axis=3), ValueError, "axis 3 is out of range for an array of 3 dimensions"),
    (lambda: quorvel.baseline_2d_many(CUBE, axes=(1, -2)), ValueError, "axes (1, -2) name the same axis twice"),
    (lambda: quorvel.correct_2d_many(CUBE, axes=(0, 1, 2)), ValueError, "axes must name two axes, not (0, 1, 2)"),
    (lambda: quorvel.baseline_many(CUBE, workers=0), ValueError, "workers must be a positive integer or None, not 0"),
])
def test_bad_arguments_are_rejected_before_any_work(call, error, message):
    check_raises(error, message, call)
