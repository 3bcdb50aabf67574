"""modpoly and imodpoly against NumPy transcriptions of their papers and against the reference library."""
import numpy as np
import pytest

import quorvel
from polynomial_reference import fluorescent, modpoly

CASES = [("modpoly", {}), ("modpoly", dict(mask_initial_peaks=True)),
         ("modpoly", dict(use_original=True, poly_order=5)), ("imodpoly", {}), ("imodpoly", dict(num_std=2.0)),
         ("imodpoly", dict(mask_initial_peaks=False, poly_order=4)), ("imodpoly", dict(poly_order=10, tol=1e-4))]


def transcription(method, x, y, params):
    return modpoly(x, y, **({"mask_initial_peaks": True, "num_std": 1.0} | params if method == "imodpoly" else params))


@pytest.mark.parametrize("n", [1000, 10_000])
@pytest.mark.parametrize("method, params", CASES)
def test_iterations_and_baselines_follow_the_papers_and_the_reference_library(method, params, n):
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(n)
    fit = quorvel.fit(y, method, x=x, **params)
    expected, iterations = transcription(method, x, y, params)
    reference, info = getattr(pybaselines.Baseline(x), method)(y, **params)
    assert fit.iterations == iterations == len(info["tol_history"])
    for curve in (expected, reference):
        assert np.max(np.abs(fit.baseline - curve)) <= 1e-10 * np.ptp(y)


def test_masked_samples_leave_the_fits_and_are_never_read():
    x, y = fluorescent(2000)
    used = np.ones(y.size, bool)
    used[700:900] = False
    kept = quorvel.baseline(np.where(used, y, np.nan), "imodpoly", x=x, mask=used)
    expected, _ = modpoly(x[used], y[used], mask_initial_peaks=True, num_std=1.0)
    assert np.max(np.abs(kept[used] - expected)) <= 1e-10 * np.ptp(y)
    assert np.all(np.isfinite(kept))


def test_masking_the_initial_peaks_keeps_a_short_spectrum_fittable():
    # On four samples the first fit leaves two above fit + deviation: dropping them would leave two for a quadratic.
    y = np.array([0.0, 5.0, 6.0, 0.5])
    assert np.all(np.isfinite(quorvel.baseline(y, "imodpoly")))
