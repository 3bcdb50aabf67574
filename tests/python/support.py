"""Shared inputs and assertions of the Python test suite."""
import numpy as np
import pytest

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
