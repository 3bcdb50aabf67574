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
    """Mazet et al. 2005, the half-quadratic auxiliary variable d of each cost, for residuals r = y - fit; the indec
    costs of Liu et al. 2015 fall as s³ / (2 |r|) beyond s."""
    quadratic = r * (2.0 * alpha - 1.0)
    inside = (r < s) if cost.startswith("asymmetric") else (np.abs(r) < s)
    if cost.endswith("truncated_quadratic"):
        return np.where(inside, quadratic, -r)
    if cost.endswith("indec"):
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.where(inside, quadratic, -alpha * s**3 / (2.0 * r * np.abs(r)) - r)
    return np.where(inside, quadratic, np.sign(r) * 2.0 * alpha * s - r)


def penalized_poly(x, y, poly_order=2, tol=1e-3, max_iter=250, cost_function="asymmetric_truncated_quadratic",
                   threshold=None, alpha_factor=0.99):
    v = basis(x, poly_order)
    fit = np.linalg.pinv(v)
    s = np.std(y) / 10.0 if threshold is None else threshold
    return half_quadratic(v, fit, y, v @ (fit @ y), s, tol, max_iter, cost_function, alpha_factor)


def half_quadratic(v, fit, y, baseline, s, tol, max_iter, cost_function, alpha_factor):
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


def loess(x, y, fraction=0.2, poly_order=1, scale=3.0, tol=1e-3, max_iter=10, symmetric_weights=False,
          use_threshold=False, num_std=1.0, use_original=False, delta=None):
    """Cleveland 1979 with Ruckstuhl et al.'s asymmetric weights (2001) or Komsta's clipping (2011); windows of the
    ceil(fraction n) nearest samples, fits delta apart (and at the last two samples) joined by straight lines."""
    n = len(x)
    q = int(np.ceil(fraction * n))
    delta = 0.01 * (x[-1] - x[0]) if delta is None else delta
    robust, data, baseline, iteration = np.ones(n), y.copy(), y, 0

    def fit_all(values):
        out, fitted, left, i = np.empty(n), [], 0, 0
        while True:
            while left + q < n and x[i] - x[left] > x[left + q] - x[i]:
                left += 1
            window = slice(left, left + q)
            reach = max(x[i] - x[left], x[left + q - 1] - x[i])
            distance = np.abs(x[window] - x[i]) / reach
            w = np.where(distance < 1, (1 - distance**3) ** 3, 0.0) * robust[window]
            design = np.polynomial.polynomial.polyvander(x[window] - x[i], poly_order) * np.sqrt(w)[:, None]
            out[i] = np.linalg.lstsq(design, values[window] * np.sqrt(w), rcond=None)[0][0]
            fitted.append(i)
            if i == n - 1:
                return np.interp(x, x[fitted], out[fitted])
            following = max(np.searchsorted(x, x[i] + delta, side="right") - 1, i + 1)
            i = n - 2 if following == n - 1 and i + 2 < n else following

    while iteration <= max_iter:
        iteration += 1
        previous, baseline = baseline, fit_all(data)
        if change(previous, baseline) < tol or iteration > max_iter:
            break
        if use_threshold:
            data = np.minimum(y if use_original else data, baseline + num_std * np.std(data - baseline))
        else:
            r = y - baseline
            u = r / (scale * np.median(np.abs(r)) / 0.6744897501960817)
            robust = np.where(np.abs(u) < 1, (1 - u * u) ** 2, 0.0)
            if not symmetric_weights:
                robust[r < 0] = 1.0
    return baseline, iteration
