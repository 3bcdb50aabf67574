"""jbcd against a NumPy transcription of Liu et al., Appl. Spectrosc. 69 (2015) 1013, and against the reference
library."""
import numpy as np
import pytest

from support import agrees_pass_by_pass, flat, make_spectrum, opening, passes_like, spectrum


def jbcd(y, half, alpha=0.1, beta=10.0, gamma=1.0, beta_mult=1.1, gamma_mult=0.909, diff_order=1, max_iter=20,
         tol=1e-2, tol_2=1e-3, robust_opening=True):
    """Alternate s = argmin ½‖y − s − b‖² + (γ/2)‖Ds‖² and b = argmin ½‖y − s − b‖² + α‖b − o‖² + β‖Db‖² from
    b = o, s = y; the newest baseline and the baseline's relative changes."""
    o = opening(y, (half,))
    if robust_opening:
        o = np.minimum(o, 0.5 * (flat(o, (half,), np.max) + flat(o, (half,), np.min)))
    d = np.diff(np.eye(y.size), diff_order, axis=0)
    penalty, eye = d.T @ d, np.eye(y.size)
    b, s, changes = o, y, []
    for _ in range(max_iter + 1):
        s_new = np.linalg.solve(eye + gamma * penalty, y - b)
        b_new = np.linalg.solve((1 + 2 * alpha) * eye + 2 * beta * penalty, y - s_new + 2 * alpha * o)
        signal_change = np.linalg.norm(s_new - s) / np.linalg.norm(s)
        changes.append(np.linalg.norm(b_new - b) / np.linalg.norm(b))
        b, s = b_new, s_new
        if signal_change < tol and changes[-1] < tol_2:
            break
        beta, gamma = beta * beta_mult, gamma * gamma_mult
    return b, changes


@pytest.mark.parametrize("y, half, params", [
    (make_spectrum(300), 15, {}), (make_spectrum(300), 6, dict(diff_order=2, robust_opening=False, max_iter=50)),
    (spectrum(250, 2), 9, dict(alpha=0.0, gamma=0.0, tol=0.1, tol_2=0.1)), (spectrum(200, 5), 4, dict(diff_order=3))])
def test_jbcd_follows_its_publication(y, half, params):
    passes_like("jbcd", jbcd, y, half, params, 1e-11)


@pytest.mark.parametrize("y, half, params", [(spectrum(1000, 1), None, {}), (spectrum(1000, 2), 20, dict(tol_2=1e-2)),
                                             (spectrum(10_000, 3), None, {}),
                                             (spectrum(10_000, 4), 40, dict(diff_order=2, robust_opening=False))])
def test_jbcd_agrees_with_the_reference_library(y, half, params):
    fit, given = agrees_pass_by_pass("jbcd", y, half, params, 1e-9, column=1)
    assert fit.params["half_window"] == given["half_window"]
