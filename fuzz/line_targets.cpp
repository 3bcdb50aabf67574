// One-dimensional morphology and polynomial fits with their own window sizes and orders.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "checks.hpp"
#include "morphology/extrema.hpp"
#include "morphology/rolling_ball.hpp"
#include "polynomial/polynomial.hpp"
#include "targets.hpp"

namespace quorvel::fuzz {
namespace {

// Keeps n samples times a window of 2h + 1 below `budget` operations, so every run stays fast.
std::size_t half_window(ByteReader& in, std::size_t n, std::size_t budget = 1'000'000) {
    const std::size_t widest = std::min<std::size_t>(2 * n + 8, budget / (2 * std::max<std::size_t>(n, 1)));
    return in.upto(widest);
}

// The defining left-to-right scan over the reflected window, replacing only on a strictly
// better candidate; the fast kernel must match it bit for bit on NaN-free input.
std::vector<double> scanned_extremum(const std::vector<double>& x, std::size_t h, bool minimum) {
    const auto n = static_cast<std::int64_t>(x.size()), half = static_cast<std::int64_t>(h);
    std::vector<double> out(x.size());
    for (std::int64_t i = 0; i < n; ++i) {
        double v = minimum ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
        for (std::int64_t k = i - half; k <= i + half; ++k) {
            const double s = x[morphology::reflect_index(k, x.size())];
            if (minimum ? s < v : s > v) v = s;
        }
        out[static_cast<std::size_t>(i)] = v;
    }
    return out;
}

bool has_nan(const std::vector<double>& x) {
    return std::any_of(x.begin(), x.end(), [](double v) { return v != v; });
}

}  // namespace

void moving_extrema(ByteReader& in) {
    if (in.u8() % 4 == 0) {
        // Any position folds into [0, n); positions inside stay put.
        const std::size_t n = 1 + in.u64() % (std::uint64_t{1} << 61);
        const auto j = static_cast<std::int64_t>(in.u64());
        const std::size_t r = morphology::reflect_index(j, n);
        require(r < n, "reflected index out of range");
        require(j < 0 || static_cast<std::uint64_t>(j) >= n || r == static_cast<std::size_t>(j), "inner index moved");
        return;
    }
    const std::vector<double> x = in.signal(in.length(4096));
    const std::size_t h = half_window(in, x.size());
    const std::vector<double> low = morphology::moving_min_reflect(x, h);
    std::vector<double> high(x.size(), 0.0);
    morphology::moving_max_reflect(x, h, high);
    const std::vector<double> opened = morphology::opening_reflect(x, h);
    require(low.size() == x.size() && opened.size() == x.size(), "moving extremum has the wrong length");
    if (has_nan(x)) return;
    for (std::size_t i = 0; i < x.size(); ++i) require(opened[i] <= x[i], "opening exceeds the signal");
    if (x.size() * (2 * h + 1) > 200'000) return;
    require(same_bits(low, scanned_extremum(x, h, true)), "moving minimum differs from the scan");
    require(same_bits(high, scanned_extremum(x, h, false)), "moving maximum differs from the scan");
}

void rolling_ball(ByteReader& in) {
    const std::vector<double> y = in.signal(in.length(4096));
    std::size_t window = 0;
    if (in.u8() % 8 != 0) {
        window = 2 * half_window(in, y.size());
        window += in.upto(1);
    }
    std::vector<double> baseline(in.around(y.size()), 0.0);
    const auto into = morphology::rolling_ball_into(y, window, baseline);
    const auto fit = morphology::rolling_ball(y, window);
    if (!failed(fit)) require(fit.value().baseline.size() == y.size(), "rolling ball has the wrong length");
    if (!failed(into)) {
        require(baseline.size() == y.size(), "rolling ball accepted a baseline of the wrong length");
        require(!failed(fit) && same_bits(baseline, fit.value().baseline), "rolling ball forms differ");
    }
    if (y.empty()) return;

    // The average may write over its own input.
    const std::size_t h = window / 2;
    std::vector<double> apart(y.size(), 0.0), in_place = y;
    morphology::moving_average_extrapolated(y, h, apart);
    morphology::moving_average_extrapolated(in_place, h, in_place);
    require(same_bits(apart, in_place), "moving average in place differs");
    const std::vector<double> padded = morphology::pad_extrapolated(y, h);
    require(padded.size() == y.size() + 2 * h && same_bits({padded.data() + h, y.size()}, y),
            "padding does not embed the signal");
}

void polynomial(ByteReader& in) {
    const std::vector<double> y = in.signal(in.length(4096));
    std::uint64_t order = in.upto(12);
    switch (in.u8() % 4) {
        case 1: order = std::numeric_limits<std::uint64_t>::max() - in.upto(2); break;
        case 2: order = y.size() + in.upto(2); break;
        case 3: order = y.size() <= 16 ? y.size() - std::min<std::size_t>(y.size(), 1 + in.upto(2)) : order; break;
        default: break;
    }
    std::vector<double> out(in.around(y.size()), 0.0);
    const auto into = polynomial::poly_into(y, order, out);
    const auto fit = polynomial::poly(y, order);
    if (!failed(into)) {
        require(out.size() == y.size() && order < y.size(), "polynomial accepted a mismatched output or order");
        require(!failed(fit) && same_bits(out, fit.value().baseline), "polynomial forms differ");
    }
    const std::vector<double> coefficients = in.signal(in.upto(16));
    std::vector<double> values(in.upto(4096), 0.0);
    polynomial::evaluate_polynomial_coefficients(coefficients, values);
}

// Masked-out samples are never read, and a mask that keeps everything changes nothing.
void polynomial_masked(ByteReader& in) {
    std::vector<double> y = in.signal(in.length(4096));
    const std::vector<bool> bits = in.bits(in.around(y.size()));
    const std::unique_ptr<bool[]> keep(new bool[bits.size() + 1]);
    std::copy(bits.begin(), bits.end(), keep.get());
    const std::span<const bool> mask(keep.get(), bits.size());
    const std::uint64_t order = in.upto(8);
    std::vector<double> out(in.around(y.size()), 0.0), again(out.size(), 0.0);
    if (failed(polynomial::poly_masked_into(y, order, mask, out))) return;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!mask[i]) y[i] = in.real();
    }
    require(!failed(polynomial::poly_masked_into(y, order, mask, again)) && same_bits(out, again),
            "a masked-out sample changed the polynomial");
    if (std::all_of(bits.begin(), bits.end(), [](bool b) { return b; })) {
        require(!failed(polynomial::poly_into(y, order, again)) && same_bits(out, again),
                "a mask that keeps every sample changed the polynomial");
    }
}

}  // namespace quorvel::fuzz
