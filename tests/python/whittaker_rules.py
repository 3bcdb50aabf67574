"""Dense NumPy transcriptions of the Whittaker-family (penalised least squares) baseline rules.

Test-support oracle: every function solves the dense system with ``np.linalg.solve`` (use n <= 2000) and follows the
conventions of pybaselines 1.2.1 (same weights, same stop test, same iteration count).  Each returns
``(baseline, weights, iterations)`` where ``iterations == len(params['tol_history'])`` and ``weights`` are the weights
pybaselines reports (those used for the returned baseline on convergence, the freshly updated ones after
``max_iter + 1`` fits).  Shared conventions: at most ``max_iter + 1`` fits, stop when the criterion is strictly
``< tol``, the reweighting counter ``t`` is 1 after the first fit, standard deviations of negative residuals use
``ddof=1``, and fewer than two negative residuals stop the loop before that fit is counted.
"""
import numpy as np
from scipy.special import erfcx, expit

_EPS = np.finfo(float).eps


def penalty(n, order):
    """Dense D_d^T D_d for the order-`order` forward-difference matrix D_d, shape (n, n)."""
    d = np.diff(np.eye(n), order, axis=0)
    return d.T @ d


def _system(n, lam, diff_order, shape):
    """lam D'D, or on a grid of `shape` (rows, cols) the Kronecker sum of each axis' penalty (lam and diff_order:
    one or a pair)."""
    if shape is None:
        return lam * penalty(n, diff_order)
    rows, cols = shape
    lam_rows, lam_cols = np.broadcast_to(lam, 2)
    order_rows, order_cols = np.broadcast_to(diff_order, 2)
    return (lam_rows * np.kron(penalty(rows, order_rows), np.eye(cols))
            + lam_cols * np.kron(np.eye(rows), penalty(cols, order_cols)))


def _rel(old, new):
    """Relative change ||new - old||_2 / max(||old||_2, eps)."""
    return np.linalg.norm(new - old) / max(np.linalg.norm(old), _EPS)


def _fit(w, y, lhs):
    """Solve (diag(w) + lhs) z = w y."""
    return np.linalg.solve(np.diag(w) + lhs, w * y)


def _neg_stats(r):
    """Mean and ddof=1 std of the negative residuals, or None if fewer than two exist."""
    neg = r[r < 0]
    return None if neg.size < 2 else (neg.mean(), neg.std(ddof=1))


def _reweight(y, lhs, rule, max_iter, tol, w=None):
    """Generic loop: fit, new weights rule(r, t) (None = stop), stop on relative weight change < tol."""
    w = np.ones(len(y)) if w is None else np.asarray(w, float).copy()
    it = 0
    for t in range(1, max_iter + 2):
        z = _fit(w, y, lhs)
        new = rule(y - z, t)
        if new is None:
            break
        it = t
        if _rel(w, new) < tol:
            break
        w = new
    return z, w, it


def asls(y, lam=1e6, p=1e-2, diff_order=2, max_iter=50, tol=1e-3, weights=None):
    """AsLS, Eilers & Boelens 2005: w = p where y > z else 1 - p."""
    return _reweight(y, lam * penalty(len(y), diff_order), lambda r, t: np.where(r > 0, p, 1 - p), max_iter, tol,
                     weights)


def arpls(y, lam=1e5, diff_order=2, max_iter=50, tol=1e-3, weights=None):
    """arPLS, Baek et al., Analyst 140 (2015) 250: logistic weights from negative-residual mean/std."""
    def rule(r, t):
        s = _neg_stats(r)
        return None if s is None else expit(-2 * (r - (2 * s[1] - s[0])) / s[1])
    return _reweight(y, lam * penalty(len(y), diff_order), rule, max_iter, tol, weights)


def airpls(y, lam=1e6, diff_order=2, max_iter=50, tol=1e-3, weights=None, shape=None):
    """airPLS, Zhang et al., Analyst 135 (2010) 1138: stop on sum|r-| / sum|y| < tol, w = exp(t |r| / sum|r-|)."""
    w = np.ones(len(y)) if weights is None else np.asarray(weights, float).copy()
    lhs, ynorm, it = _system(len(y), lam, diff_order, shape), np.abs(y).sum(), 0
    for t in range(1, max_iter + 2):
        z = _fit(w, y, lhs)
        r = y - z
        neg = r < 0
        if neg.sum() < 2:
            break
        it, l1 = t, -r[neg].sum()
        if l1 / ynorm < tol:
            break
        w = np.where(neg, np.exp(t * np.where(neg, -r, 0) / l1), 0.0)
    return z, w, it


def _half_logistic(u):
    """0.5 * (1 - u / (1 + |u|)) written without overflow for huge |u|."""
    a = np.abs(u)
    return np.where(u >= 0, 0.5 / (1 + a), 1 - 0.5 / (1 + a))


def drpls(y, lam=1e5, eta=0.5, diff_order=2, max_iter=50, tol=1e-3, weights=None, shape=None):
    """drPLS, Xu et al., Appl. Opt. 58 (2019) 3913: (W + D1'D1 + lam (I - eta W) Dd'Dd) z = W y (non-symmetric)."""
    n = len(y)
    w = np.ones(n) if weights is None else np.asarray(weights, float).copy()
    p1, pd, it = _system(n, 1.0, 1, shape), _system(n, lam, diff_order, shape), 0
    for t in range(1, max_iter + 2):
        z = np.linalg.solve(np.diag(w) + p1 + (1 - eta * w)[:, None] * pd, w * y)
        r = y - z
        s = _neg_stats(r)
        if s is None:
            break
        it = t
        new = _half_logistic(np.exp(t) * (r - (2 * s[1] - s[0])) / s[1])
        if _rel(w, new) < tol:
            break
        w = new
    return z, w, it


def iarpls(y, lam=1e5, diff_order=2, max_iter=50, tol=1e-3, weights=None, shape=None):
    """IarPLS, Ye et al., Appl. Opt. 59 (2020) 10933: w = (1 - u / sqrt(1 + u^2)) / 2, u = e^t (r - 2 sd) / sd."""
    def rule(r, t):
        s = _neg_stats(r)
        if s is None:
            return None
        u = np.exp(t) * (r - 2 * s[1]) / s[1]
        return 0.5 * (1 - u / np.sqrt(1 + u * u))
    return _reweight(y, _system(len(y), lam, diff_order, shape), rule, max_iter, tol, weights)


def lsrpls(y, lam=1e5, diff_order=2, max_iter=50, tol=1e-3, weights=None, shape=None):
    """LSRPLS, Heng et al., Chin. J. Lasers 45 (2018) 1211001: drPLS weights with 10^t in place of e^t."""
    def rule(r, t):
        s = _neg_stats(r)
        return None if s is None else _half_logistic(10.0 ** t * (r - (2 * s[1] - s[0])) / s[1])
    return _reweight(y, _system(len(y), lam, diff_order, shape), rule, max_iter, tol, weights)


def aspls(y, lam=1e5, diff_order=2, max_iter=100, tol=1e-3, weights=None, alpha=None, asymmetric_coef=0.5,
          shape=None):
    """asPLS, Zhang et al., Spectrosc. Lett. 53 (2020) 222: (W + lam diag(alpha) Dd'Dd) z = W y (non-symmetric)."""
    n = len(y)
    w = np.ones(n) if weights is None else np.asarray(weights, float).copy()
    a = np.ones(n) if alpha is None else np.asarray(alpha, float).copy()
    pd, it = _system(n, lam, diff_order, shape), 0
    for t in range(1, max_iter + 2):
        z = _fit(w, y, a[:, None] * pd)
        r = y - z
        s = _neg_stats(r)
        if s is None:
            break
        it = t
        new = expit(-asymmetric_coef * (r - s[1]) / s[1])
        if _rel(w, new) < tol:
            break
        w, a = new, np.abs(r) / np.abs(r).max()
    return z, w, it


def _quadratic(y, shape):
    """The least-squares quadratic, or on a grid the surface with every term x^a z^b, a, b <= 2."""
    axes = [np.linspace(-1, 1, m) for m in (shape or (len(y),))]
    points = [c.ravel() for c in np.meshgrid(*axes, indexing="ij")]
    terms = np.stack([np.prod([c ** e for c, e in zip(points, powers)], axis=0)
                      for powers in np.ndindex(*(3,) * len(points))], axis=1)
    return terms @ np.linalg.lstsq(terms, y, rcond=None)[0]


def iasls(y, lam=1e6, p=1e-2, lam_1=1e-4, max_iter=50, tol=1e-3, weights=None, diff_order=2, shape=None):
    """IAsLS, He et al., Anal. Methods 6 (2014) 4402: (W'W + lam_1 D1'D1 + lam Dd'Dd) z = (W'W + lam_1 D1'D1) y."""
    n = len(y)
    w = np.where(y > _quadratic(y, shape), p, 1 - p) if weights is None else np.asarray(weights, float).copy()
    p1, pd, it = _system(n, lam_1, 1, shape), _system(n, lam, diff_order, shape), 0
    for t in range(1, max_iter + 2):
        z = np.linalg.solve(np.diag(w * w) + p1 + pd, w * w * y + p1 @ y)
        new = np.where(y > z, p, 1 - p)
        it = t
        if _rel(w, new) < tol:
            break
        w = new
    return z, w, it


def psalsa(y, lam=1e5, p=0.5, k=None, diff_order=2, max_iter=50, tol=1e-3, weights=None, shape=None):
    """psalsa, Oller-Moreno et al., IEEE SSD 2014: w = p exp(-r / k) for r > 0 else 1 - p; k = std(y) / 10."""
    k = np.std(y) / 10 if k is None else k
    rule = lambda r, t: np.where(r > 0, p * np.exp(-np.maximum(r, 0) / k), 1 - p)
    return _reweight(y, _system(len(y), lam, diff_order, shape), rule, max_iter, tol, weights)


def _mollify(y, hw, num_smooths):
    """Linear-extrapolation pad by hw, num_smooths reflect-padded mollifier convolutions, trim."""
    n, xl = len(y), np.arange(hw)
    left = np.polyval(np.polyfit(xl, y[:hw], 1), np.arange(-hw, 0))
    right = np.polyval(np.polyfit(xl, y[-hw:], 1), np.arange(hw, 2 * hw))
    s = np.concatenate([left, y, right])
    u = np.arange(-hw + 1, hw) / hw
    ker = np.r_[0.0, np.exp(-1 / (1 - u * u)), 0.0]
    ker /= ker.sum()
    for _ in range(num_smooths):
        s = np.convolve(np.pad(s, hw, mode='reflect'), ker, mode='valid')
    return s[hw:hw + n]


def derpsalsa(y, lam=1e6, p=1e-2, k=None, diff_order=2, max_iter=50, tol=1e-3, weights=None,
              smooth_half_window=None, num_smooths=16):
    """derpsalsa, Korepanov, J. Raman Spectrosc. 51 (2020) 2061: psalsa with Gaussian decay times derivative weights."""
    n = len(y)
    k = np.std(y) / 10 if k is None else k
    hw = n // 200 if smooth_half_window is None else smooth_half_window
    s = _mollify(y, hw, num_smooths) if hw > 0 else np.asarray(y, float)
    d1 = np.gradient(s)
    d2 = np.gradient(d1)
    part = np.exp(-0.5 * d1 ** 2 / np.mean(d1 ** 2)) * np.exp(-0.5 * d2 ** 2 / np.mean(d2 ** 2))
    rule = lambda r, t: part * np.where(r > 0, p * np.exp(-0.5 * (np.maximum(r, 0) / k) ** 2), 1 - p)
    return _reweight(y, lam * penalty(n, diff_order), rule, max_iter, tol, weights)


def _brpls_weights(r, beta):
    """Posterior probability of 'baseline + Gaussian noise' against 'exponential peak + noise'.

    (1 + erf(a)) exp(a^2) is erfcx(-a); pybaselines 1.2.1 forms 1 + erf(a), which is 0 below a = -5.9 (weight 1).
    """
    neg, pos = r[r < 0], r[r > 0]
    if neg.size < 2 or pos.size == 0:
        return None
    sigma, mu = np.sqrt(np.mean(neg * neg)), pos.mean()
    a = (r / sigma - sigma / mu) / np.sqrt(2)
    with np.errstate(over='ignore'):
        return 1 / (1 + beta / (1 - beta) * np.sqrt(np.pi / 2) * (sigma / mu) * erfcx(-a))


def brpls(y, lam=1e5, diff_order=2, max_iter=50, tol=1e-3, max_iter_2=50, tol_2=1e-3, weights=None, shape=None):
    """BrPLS, Wang et al., Nucl. Sci. Tech. 33 (2022): Bayesian weights, outer beta = 1 - mean(w) loop.

    Returns (baseline, weights, total_fits, outer_iterations).  Inner stop: ||z - z_prev|| / ||z_prev|| < tol with
    z_prev = y before the first fit.  The baseline is the newest fit, as the publication has it; pybaselines 1.2.1
    returns the fit before it (the last that failed the inner test), up to tol away.
    """
    n = len(y)
    w = np.ones(n) if weights is None else np.asarray(weights, float).copy()
    pd, beta, z_prev, fits, outer = _system(n, lam, diff_order, shape), 0.5, np.asarray(y, float), 0, 0
    for outer in range(1, max_iter_2 + 2):
        for _ in range(max_iter + 1):
            z = _fit(w, y, pd)
            new = _brpls_weights(y - z, beta)
            if new is None:
                return z, w, fits, outer
            fits += 1
            change, w = _rel(z_prev, z), new
            if change < tol:
                break
            z_prev = z
        new_beta = 1 - w.mean()
        if abs(new_beta - beta) < tol_2:
            break
        beta = new_beta
    return z, w, fits, outer
