"""ria against a NumPy transcription of Krishna et al., J. Raman Spectrosc. 43 (2012) 1884, and against the
reference library."""
import numpy as np
import pytest

import quorvel
from support import agrees_pass_by_pass, extended, fit_quietly, make_spectrum, passes_like, spectrum

trapezoid = getattr(np, "trapezoid", None) or np.trapz  # NumPy 1 names it trapz


def ria(y, half, max_iter=500, tol=1e-2, side="both", width_scale=0.1, height_scale=1.0, sigma_scale=1 / 12):
    """Gaussians on the data's edge lines at the chosen ends, then the moving average clipped by those data until
    the Gaussians keep less than tol of their area; the baseline and |area share| of every pass."""
    n, added = y.size, int(width_scale * y.size)
    left, right = side != "right", side != "left"
    line = extended(y, added)[(0 if left else added):(None if right else -added)]
    u = (np.arange(added) - (added - 1) / 2) / (sigma_scale * (added - 1))
    gaussian = height_scale * y.max() * np.exp(-0.5 * u ** 2)
    data = line.copy()
    data[:added] += gaussian if left else 0
    data[-added:] += gaussian if right else 0
    ends = np.polynomial.polynomial.Polynomial.fit([0, 1], data[:2], 1), \
        np.polynomial.polynomial.Polynomial.fit([0, 1], data[-2:], 1)
    pads = ends[0](np.arange(-half, 0)), ends[1](np.arange(2, half + 2))
    kept = [trapezoid(g) for g, on in ((gaussian, left), (gaussian, right)) if on]
    baseline, changes, first = data, [], added if left else 0
    for _ in range(max_iter):
        smooth = np.convolve(np.concatenate([pads[0], baseline, pads[1]]), np.ones(2 * half + 1) / (2 * half + 1),
                             mode="valid")
        areas = [trapezoid(smooth[part] - line[part]) for part, on in
                 ((slice(0, added), left), (slice(-added, None), right)) if on]
        share = sum(areas) / sum(kept)
        changes.append(abs(share))
        if share < tol:
            return smooth[first:first + n], changes
        baseline = np.minimum(data, smooth)
    return baseline[first:first + n], changes


CASES = [(spectrum(1000, 5), 20, dict(side="right")), (spectrum(1000, 6), 15, dict(side="left", width_scale=0.3)),
         (spectrum(1000, 1), 20, dict(height_scale=1e-3)), (spectrum(500, 3), 7, dict(width_scale=0.0555, tol=0.05)),
         (make_spectrum(300), 10, dict(max_iter=5, sigma_scale=0.2))]


@pytest.mark.parametrize("y, half, params", CASES)
def test_ria_follows_its_publication(y, half, params):
    passes_like("ria", ria, y, half, params, 1e-11)


@pytest.mark.parametrize("y, half, params", [(spectrum(1000, 1), None, {}), (spectrum(10_000, 2), None, {}),
                                             (spectrum(10_000, 4), 40, dict(side="left"))] + CASES[:3])
def test_ria_agrees_with_the_reference_library(y, half, params):
    agrees_pass_by_pass("ria", y, half, params, 1e-11)


@pytest.mark.parametrize("y, params, words", [
    (-spectrum(300, 1), {}, "height_scale: times the data's largest value"),
    (spectrum(300, 1), dict(width_scale=0.005), "width_scale: must add from 2")])
def test_ria_refuses_what_it_cannot_extend(y, params, words):
    with pytest.raises(ValueError, match=words):
        quorvel.baseline(y, "ria", half_window=5, **params)


def test_a_baseline_sunk_below_the_added_lines_is_not_converged():
    fit = fit_quietly("ria", spectrum(1000, 1), 20, dict(height_scale=1e-3))
    assert fit.iterations == 2 and not fit.converged and fit.last_change > 1e-2
