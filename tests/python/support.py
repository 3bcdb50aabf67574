"""Shared inputs and assertions of the Python test suite."""
import warnings

import numpy as np
import pytest

import quorvel
from quorvel import parameters

# The fixed-default module's surface, which never changes.
NATIVE_METHODS = ["asls", "arpls", "airpls", "rolling_ball", "polynomial"]
NATIVE_METHODS_2D = ["asls", "arpls", "rolling_ball", "polynomial"]
NATIVE_INVALID_1D = "invalid parameter method: expected asls, arpls, airpls, rolling_ball, or polynomial"
NATIVE_INVALID_2D = "invalid parameter method: expected asls, arpls, rolling_ball, or polynomial"
# Every method of the package, from the core's catalogue, so that a method added there is tested here.
METHODS = parameters.method_names(1)
METHODS_2D = parameters.method_names(2)
INVALID_1D = f"invalid parameter method: expected {parameters.listing(METHODS)}"
INVALID_2D = f"invalid parameter method: expected {parameters.listing(METHODS_2D)}"
HINT = "; pass mask= with False there to leave such samples out of the fit"


def make_spectrum(n=200, seed=7):
    """A curved background under two narrow peaks, with a little noise."""
    x = np.linspace(0.0, 1.0, n)
    peaks = 5.0 * np.exp(-(((x - 0.3) / 0.02) ** 2)) + 3.0 * np.exp(-(((x - 0.7) / 0.03) ** 2))
    return 2.0 + x + 0.5 * np.sin(3.0 * x) + peaks + 0.05 * np.random.default_rng(seed).standard_normal(n)


def spectrum(n, seed):
    """A sloped, curved background under Gaussian peaks of several widths, with noise."""
    x = np.linspace(0.0, 1.0, n)
    rng = np.random.default_rng(seed)
    peaks = sum(h * np.exp(-(((x - c) / w) ** 2)) for h, c, w in rng.uniform([2, 0.1, 0.005], [9, 0.9, 0.04], (4, 3)))
    return 3.0 + 2.0 * x + np.sin(4.0 * x) + peaks + 0.1 * rng.standard_normal(n)


def flat(data, halves, pick):
    """``pick`` (np.min or np.max) over windows of 2h + 1 per axis, the data mirrored half a sample out."""
    for axis, h in enumerate(halves):
        padded = np.pad(data, [(h, h) if a == axis else (0, 0) for a in range(data.ndim)], mode="symmetric")
        data = pick(np.lib.stride_tricks.sliding_window_view(padded, 2 * h + 1, axis=axis), axis=-1)
    return data


def opening(data, halves):
    """The flat opening: minimum, then maximum."""
    return flat(flat(data, halves, np.min), halves, np.max)


# Spectra and grids with their half windows, for the methods of flat windows.
WINDOW_CASES = [(make_spectrum(300), 15), (make_spectrum(300), 1), (make_spectrum(9), 4),
                (np.random.default_rng(2).normal(size=(13, 17)), (2, 5)), (np.random.default_rng(3).random((6, 40)), 3)]
GRID = np.add.outer(np.linspace(0, 1, 30), np.linspace(0, 2, 40)) + np.random.default_rng(8).random((30, 40))
# Spectra of 10^3 and 10^4 samples and a grid, with a given half window or None (estimated).
REFERENCE_CASES = [(spectrum(1000, 1), None), (spectrum(1000, 2), 10), (spectrum(10_000, 3), None),
                   (spectrum(10_000, 4), 40), (GRID, None), (GRID, (2, 4))]


def extended(y, count):
    """y with `count` samples at each end on the least-squares line through its outermost `count`."""
    m = min(count, y.size)
    steps = np.arange(1, count + 1)
    left = np.polynomial.polynomial.Polynomial.fit(np.arange(m), y[:m], 1)
    right = np.polynomial.polynomial.Polynomial.fit(np.arange(m), y[-m:], 1)
    return np.concatenate([left(-steps[::-1]), y, right(m - 1 + steps)])


def mollified(x, half):
    """x convolved with the normalised bump exp(-1 / (1 - u²)), u = j / half for j = -half ... half, x mirrored
    about its end samples."""
    u = np.arange(-half, half + 1) / half
    kernel = np.zeros(u.size)
    kernel[1:-1] = np.exp(-1.0 / (1.0 - u[1:-1] ** 2))
    return np.convolve(np.pad(x, half, mode="reflect"), kernel / kernel.sum(), mode="valid")


def settled_on_extended(y, half, step, max_iter, tol):
    """b <- step(b, padded) from b = padded, y extended by 2h + 1 samples along its edge lines, until b changes
    by less than tol over y's samples, at most max_iter + 1 passes; the newest baseline and the changes."""
    width = 2 * half + 1
    padded, inner = extended(y, width), slice(width, width + y.size)
    baseline, changes = padded, []
    for _ in range(max_iter + 1):
        new = step(baseline, padded)
        changes.append(np.linalg.norm(new[inner] - baseline[inner]) / np.linalg.norm(baseline[inner]))
        baseline = new
        if changes[-1] < tol:
            break
    return baseline[inner], changes


def has_the_bits_of(method, data, half, transcription):
    """The method's baseline at half_window `half` is transcription(data, halves) to the bit."""
    halves = (half,) * data.ndim if np.isscalar(half) else half
    baseline = (quorvel.baseline if data.ndim == 1 else quorvel.baseline_2d)(data, method, half_window=half)
    assert bits(baseline) == bits(transcription(data, halves))


def follows(method, transcription, data, half, params, within):
    """A fit at half_window `half` against transcription(data, half, **params), which gives the baseline and
    the change of every pass: as many passes, the same changes and convergence, baselines within `within` of
    the data's range."""
    expected, changes = transcription(data, half, **params)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        got = (quorvel.fit if data.ndim == 1 else quorvel.fit_2d)(data, method, half_window=half, **params)
    assert got.iterations == len(changes) and got.converged == (changes[-1] < params.get("tol", 1e-3))
    np.testing.assert_allclose(got.changes, changes, rtol=1e-7)
    assert np.max(np.abs(got.baseline - expected)) <= within * np.ptp(data)


def fit_quietly(method, y, half, params):
    """quorvel.fit at half_window `half`, a fit that stops unconverged raising no warning."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvel.ConvergenceWarning)
        return quorvel.fit(y, method, half_window=half, **params)


def passes_like(method, transcription, y, half, params, within):
    """A fit against transcription(y, half, **params), which gives the baseline and each pass's change: as many
    passes, the same changes, baselines within `within` of the data's range."""
    expected, changes = transcription(y, half, **params)
    fit = fit_quietly(method, y, half, params)
    assert fit.iterations == len(changes)
    np.testing.assert_allclose(fit.changes, changes, rtol=1e-7)
    assert np.max(np.abs(fit.baseline - expected)) <= within * np.ptp(y)


def agrees_pass_by_pass(method, y, half, params, within, column=None):
    """A fit against the reference library's: as many passes, the changes of its tol_history (or of one column
    of it), baselines within `within` of the data's range; the fit, for further checks."""
    pybaselines = pytest.importorskip("pybaselines")
    expected, given = getattr(pybaselines.Baseline(), method)(y, half_window=half, **params)
    fit = fit_quietly(method, y, half, params)
    history = given["tol_history"] if column is None else given["tol_history"][:, column]
    assert fit.iterations == len(history)
    # A change is a ratio of differences of close curves: SciPy's releases move its last digits by ~1e-9.
    np.testing.assert_allclose(fit.changes, history, rtol=1e-8, atol=1e-15)
    assert np.max(np.abs(fit.baseline - expected)) <= within * np.ptp(y)
    return fit, given


def agrees_with_reference(method, data, half, within):
    """A fit against the reference library's at the same half_window (None: each estimates its own): the same
    window, as many iterations, and baselines within `within` of the data's range."""
    pybaselines = pytest.importorskip("pybaselines")
    fitter = pybaselines.Baseline() if data.ndim == 1 else pybaselines.Baseline2D()
    expected, params = getattr(fitter, method)(data, half_window=half)
    fit = (quorvel.fit if data.ndim == 1 else quorvel.fit_2d)(data, method, half_window=half)
    assert np.array_equal(fit.params["half_window"], params["half_window"])
    assert fit.iterations == len(params.get("tol_history", [None]))
    assert np.max(np.abs(fit.baseline - expected)) <= within * np.ptp(data)


def masked_stretch(y, start, stop):
    """y with [start, stop) masked out (NaN there), the mask, and y with that stretch bridged by a straight line."""
    used = np.ones(y.size, bool)
    used[start:stop] = False
    bridged = y.copy()
    bridged[start:stop] = np.interp(np.arange(start, stop), [start - 1, stop], y[[start - 1, stop]])
    return np.where(used, y, np.nan), used, bridged


def bits(array):
    return np.asarray(array).tobytes()


def check_raises(exc_type, message, function, *args, **kwargs):
    """Calls `function`; the exception must carry exactly `message` (any message when it is None)."""
    with pytest.raises(exc_type) as info:
        function(*args, **kwargs)
    if message is not None:
        assert info.value.args == (message,)
