"""snip against a NumPy transcription of the published clipping and against the reference library."""
import numpy as np
import pytest

import quorvel
from support import make_spectrum, masked_stretch

# The weights of the pairs of samples 1 .. k steps out in the filters of order 2k (Morháč & Matoušek 2008).
WEIGHTS = {1: [1.0], 2: [4.0, -1.0], 3: [15.0, -6.0, 1.0], 4: [56.0, -28.0, 8.0, -1.0]}


def pad(values, h, axis=-1):
    """Carried on past each end along the least-squares line of min(h, length) edge samples."""
    values = np.moveaxis(values, axis, -1)
    k = min(h, values.shape[-1])
    def line(edge, at):
        if k == 1:
            return np.repeat(edge, at.size, axis=-1)
        slope, intercept = np.polyfit(np.arange(k), edge.reshape(-1, k).T, 1)
        return (slope[:, None] * at + intercept[:, None]).reshape(*edge.shape[:-1], at.size)
    padded = np.concatenate([line(values[..., :k], np.arange(-h, 0)), values,
                             line(values[..., -k:], np.arange(k, k + h))], axis=-1)
    return np.moveaxis(padded, -1, axis)


def lls(y):
    return np.log1p(np.log1p(np.sqrt(y + 1)))


def unlls(v):
    return np.expm1(np.expm1(np.maximum(v, 0))) ** 2 - 1


def passes(most, decreasing):
    return range(most, 0, -1) if decreasing else range(1, most + 1)


def snip(y, max_half_window, decreasing=False, filter_order=2, smooth_half_window=0, use_lls=False):
    left, right = np.broadcast_to(max_half_window, 2)
    most = max(left, right)
    v = pad(lls(y) if use_lls else y, most)
    for p in passes(most, decreasing):
        a, b, at = min(p, left), min(p, right), np.arange(p, v.size - p)
        best = (v[at - a] + v[at + b]) / 2
        for k in range(2, filter_order // 2 + 1):
            w = WEIGHTS[k]
            total = sum(w[q - 1] * (v[at - q * a // k] + v[at + q * b // k]) for q in range(k, 0, -1))
            best = np.maximum(best, total / (2 * sum(w)))
        s = smooth_half_window
        kept = np.array([v[max(0, i - s):i + s + 1].mean() for i in at]) if s else v[at]
        v = v.copy()
        v[at] = np.where(best < v[at], best, kept)
    return unlls(v[most:-most]) if use_lls else v[most:-most]


def snip_2d(data, halves, decreasing=False, use_lls=False):
    """The 1997 grid filter: corners p1 .. p4 and edge midpoints s1 .. s4, each raised to its corners' mean."""
    hr, hc = halves
    v = pad(pad(lls(data) if use_lls else data, hc, axis=1), hr, axis=0)
    for p in passes(max(hr, hc), decreasing):
        a, b = min(p, hr), min(p, hc)
        rows, cols = v.shape
        at = np.s_[a:rows - a, b:cols - b]
        def shifted(dr, dc):
            return v[a + dr:rows - a + dr, b + dc:cols - b + dc]
        p1, p2, p3, p4 = shifted(-a, -b), shifted(-a, b), shifted(a, -b), shifted(a, b)
        s1, s2 = np.maximum(shifted(0, -b), (p1 + p3) / 2), np.maximum(shifted(-a, 0), (p1 + p2) / 2)
        s3, s4 = np.maximum(shifted(a, 0), (p3 + p4) / 2), np.maximum(shifted(0, b), (p2 + p4) / 2)
        v = v.copy()
        v[at] = np.minimum(v[at], (s1 + s2 + s3 + s4) / 2 - (p1 + p2 + p3 + p4) / 4)
    out = v[hr:v.shape[0] - hr, hc:v.shape[1] - hc]
    return unlls(out) if use_lls else out


def close(actual, expected, data):
    assert np.max(np.abs(actual - expected)) <= 1e-12 * np.ptp(data)


SPECTRA = {size: make_spectrum(size) * 100 for size in (1000, 10_000)}
ONE_D = [dict(max_half_window=20), dict(max_half_window=20, decreasing=True), dict(max_half_window=(5, 30)),
         dict(max_half_window=(30, 5), decreasing=True), dict(max_half_window=25, filter_order=4),
         dict(max_half_window=25, filter_order=6, decreasing=True), dict(max_half_window=40, filter_order=8),
         dict(max_half_window=(30, 7), filter_order=6), dict(max_half_window=12, smooth_half_window=1)]


@pytest.mark.parametrize("size", [1000, 10_000])
@pytest.mark.parametrize("params", ONE_D + [dict(max_half_window=12, smooth_half_window=3, lls=True)])
def test_snip_is_the_published_clipping(size, params):
    y = SPECTRA[size]
    s = params.get("smooth_half_window", 0)
    expected = snip(y, params["max_half_window"], params.get("decreasing", False), params.get("filter_order", 2),
                    s, params.get("lls", False))
    # On the straight padding a neighbours' mean ties with the sample, and rounding picks between it and the
    # moving average, which from s = 2 on differ where the average's window is cut short: the choice spreads
    # inwards up to 2 s + 2 samples a pass.
    edge = params["max_half_window"] * (2 * s + 2) if s > 1 else 0
    close(quorvel.baseline(y, "snip", **params)[edge:y.size - edge], expected[edge:y.size - edge], y)


@pytest.mark.parametrize("size", [1000, 10_000])
@pytest.mark.parametrize("params", ONE_D)
def test_snip_agrees_with_the_reference_library(size, params):
    # smooth_half_window is compared at 1 only: from 2 on the ties on the padding (see above) make the
    # reference library's edges part from quorvel's by about 1e-4 of the data's range.
    pybaselines = pytest.importorskip("pybaselines")
    y = SPECTRA[size]
    expected = pybaselines.Baseline().snip(y, **params)[0]
    close(quorvel.baseline(y, "snip", **params), expected, y)


GRIDS = [(np.random.default_rng(4).gamma(2.0, size=(30, 41)) + np.add.outer(np.arange(30), np.arange(41)) / 9, 4),
         (np.random.default_rng(5).normal(size=(17, 12)) ** 2, (2, 6))]


@pytest.mark.parametrize("data, halves", GRIDS)
@pytest.mark.parametrize("decreasing", [False, True])
@pytest.mark.parametrize("use_lls", [False, True])
def test_grid_snip_is_the_published_clipping(data, halves, decreasing, use_lls):
    got = quorvel.baseline_2d(data, "snip", max_half_window=halves, decreasing=decreasing, lls=use_lls)
    close(got, snip_2d(data, np.broadcast_to(halves, 2), decreasing, use_lls), data)


def test_a_smoothing_window_wider_than_the_data_reads_only_the_data():
    y = SPECTRA[1000][:12]
    baseline = quorvel.baseline(y, "snip", max_half_window=3, smooth_half_window=40)
    assert np.all(np.abs(baseline - y.mean()) <= 2 * np.ptp(y))


def test_snip_clips_from_below_and_estimates_its_window():
    y = SPECTRA[1000]
    fit = quorvel.fit(y, "snip")
    assert np.all(fit.baseline <= y)
    # None takes the window the openings settle at, as the reference library does, and the fit says which.
    pybaselines = pytest.importorskip("pybaselines")
    half = fit.params["max_half_window"]
    assert half == pybaselines.utils.optimize_window(y)
    assert np.array_equal(fit.baseline, quorvel.baseline(y, "snip", max_half_window=half))
    reference, _ = pybaselines.Baseline().snip(y)
    assert np.abs(fit.baseline - reference).max() <= 1e-12 * np.ptp(y)


@pytest.mark.parametrize("params, message", [
    (dict(filter_order=3), "filter_order"), (dict(filter_order=10), "filter_order"),
    (dict(max_half_window=0), "max_half_window"), (dict(max_half_window=(3, 1000)), "max_half_window"),
    (dict(decreasing=1), "decreasing"), (dict(lls=True, max_half_window=3), "lls")])
def test_snip_names_the_parameter_it_rejects(params, message):
    y = SPECTRA[1000] - 1000.0
    with pytest.raises((ValueError, TypeError), match=message):
        quorvel.baseline(y, "snip", **params)


def test_snip_bridges_masked_samples():
    y, used, bridged = masked_stretch(SPECTRA[1000], 300, 320)
    close(quorvel.baseline(y, "snip", mask=used, max_half_window=15),
          quorvel.baseline(bridged, "snip", max_half_window=15), bridged)
