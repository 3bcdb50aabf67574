"""NumPy transcriptions of the polynomial family's publications, shared by their reference tests."""
import numpy as np

from support import make_spectrum


def fluorescent(n, seed=0):
    """A Raman-like spectrum: peaks and noise on a broad, curved fluorescence background, on uneven x."""
    x = np.geomspace(200.0, 3200.0, n)
    background = 40.0 + 0.01 * x + 30.0 * np.exp(-(((x - 900.0) / 1600.0) ** 2))
    return x, background + 100.0 * make_spectrum(n, seed)


def basis(x, order):
    t = (2.0 * x - (x.max() + x.min())) / (x.max() - x.min())
    return np.polynomial.polynomial.polyvander(t, order)


def change(old, new):
    return np.linalg.norm(new - old) / max(np.linalg.norm(old), np.finfo(float).eps)


def modpoly(x, y, poly_order=2, tol=1e-3, max_iter=250, use_original=False, mask_initial_peaks=False,
            num_std=None):
    """Lieber & Mahadevan-Jansen 2003; with num_std, Zhao et al. 2007 (imodpoly). Returns (baseline, iterations)."""
    v = basis(x, poly_order)
    fit = np.linalg.pinv(v)
    baseline = v @ (fit @ y)
    deviation = np.std(y - baseline)
    if mask_initial_peaks:
        keep = baseline + deviation >= y
        fit = np.linalg.pinv(v * keep[:, None]) * keep
    clipped = y
    for iteration in range(1, max_iter + 1):
        previous = baseline
        limit = baseline if num_std is None else baseline + num_std * deviation
        clipped = np.minimum(y if use_original else clipped, limit)
        baseline = v @ (fit @ clipped)
        if num_std is None:
            step = change(previous, baseline)
        else:
            now = np.std(clipped - baseline)
            step, deviation = abs(now - deviation) / now, now
        if step < tol:
            break
    return baseline, iteration


def auxiliary(r, s, alpha, cost):
    """Mazet et al. 2005, the half-quadratic auxiliary variable d of each cost, for residuals r = y - fit."""
    quadratic = r * (2.0 * alpha - 1.0)
    inside = (r < s) if cost.startswith("asymmetric") else (np.abs(r) < s)
    if cost.endswith("truncated_quadratic"):
        return np.where(inside, quadratic, -r)
    return np.where(inside, quadratic, np.sign(r) * 2.0 * alpha * s - r)


def penalized_poly(x, y, poly_order=2, tol=1e-3, max_iter=250, cost_function="asymmetric_truncated_quadratic",
                   threshold=None, alpha_factor=0.99):
    v = basis(x, poly_order)
    fit = np.linalg.pinv(v)
    s = np.std(y) / 10.0 if threshold is None else threshold
    baseline = v @ (fit @ y)
    for iteration in range(1, max_iter + 1):
        previous = baseline
        baseline = v @ (fit @ (y + auxiliary(y - baseline, s, alpha_factor / 2.0, cost_function)))
        if change(previous, baseline) < tol:
            break
    return baseline, iteration


def quant_reg(x, y, poly_order=2, quantile=0.05, tol=1e-6, max_iter=250, eps=None):
    """Komsta 2011 by the reweighting of Schnabel et al. 2013, from the data as the first fit."""
    v = basis(x, poly_order)
    baseline = y
    for iteration in range(1, max_iter + 1):
        e = (1e-6 * np.abs(baseline).max()) ** 2 if eps is None else eps
        r = y - baseline
        root = np.sqrt(np.where(r > 0, quantile, 1.0 - quantile) / np.sqrt(r * r + e))
        previous, baseline = baseline, v @ np.linalg.lstsq(v * root[:, None], root * y, rcond=None)[0]
        if change(previous, baseline) < tol:
            break
    return baseline, iteration
