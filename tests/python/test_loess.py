"""loess against a NumPy transcription of Cleveland (1979) and Ruckstuhl et al. (2001), and the reference library."""
import numpy as np
import pytest

import quorvel
from polynomial_reference import fluorescent, loess

CASES = [(1000, {}), (1000, dict(delta=0.0)), (1000, dict(symmetric_weights=True)), (1000, dict(use_threshold=True)),
         (1000, dict(use_threshold=True, use_original=True, num_std=2.0)), (1000, dict(poly_order=2, fraction=0.1)),
         (10_000, {}), (10_000, dict(scale=4.05, tol=1e-4))]


@pytest.mark.parametrize("n, params", CASES)
def test_loess_follows_the_papers_and_the_reference_library(n, params):
    pybaselines = pytest.importorskip("pybaselines")
    x, y = fluorescent(n)
    fit = quorvel.fit(y, "loess", x=x, **params)
    expected, iterations = loess(x, y, **params)
    reference, info = pybaselines.Baseline(x).loess(y, **params)
    assert fit.iterations == iterations == len(info["tol_history"])
    # A quadratic's local systems are solved on powers of the offset, the reference's otherwise: 1e-8 apart.
    within = 1e-7 if params.get("poly_order") == 2 else 1e-10
    for curve in (expected, reference):
        assert np.max(np.abs(fit.baseline - curve)) <= within * np.ptp(y)


def test_windows_too_thin_for_the_order_still_fit():
    # The reference library stops with a singular matrix here (order 2 on windows of 500 of 10^4 samples).
    x, y = fluorescent(10_000)
    assert np.all(np.isfinite(quorvel.baseline(y, "loess", x=x, fraction=0.05, delta=0.0, poly_order=2)))


def test_masked_samples_leave_every_window():
    x, y = fluorescent(1000)
    used = np.ones(y.size, bool)
    used[300:340] = False
    masked = quorvel.baseline(np.where(used, y, np.nan), "loess", x=x, mask=used)
    assert np.all(np.isfinite(masked))
    assert np.max(np.abs(masked - quorvel.baseline(y, "loess", x=x))) > 0
