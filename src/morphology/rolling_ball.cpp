#include "rolling_ball.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "../numeric.hpp"
#include "extrema.hpp"

namespace quorvel::morphology {
namespace {

struct Line {
    double slope;
    double intercept;
};

// Least-squares line through (h + i, x[i]) for i in [first, first + count).
Line fit_edge(std::span<const double> x, std::size_t h, std::size_t first, std::size_t count) {
    double sx = -0.0, sy = -0.0, sxx = -0.0, sxy = -0.0;
    for (std::size_t i = first; i < first + count; ++i) {
        const double p = static_cast<double>(h + i);
        sx = sx + p;
        sy = sy + x[i];
        sxx = sxx + p * p;
        sxy = sxy + p * x[i];
    }
    const double k = static_cast<double>(count);
    const double d = k * sxx - sx * sx;
    const double slope = std::fabs(d) <= epsilon ? 0.0 : (k * sxy - sx * sy) / d;
    return {slope, (sy - slope * sx) / k};
}

void extend(std::span<const double> x, std::size_t h, std::size_t first, std::size_t count,
            std::size_t from, std::size_t to, std::vector<double>& padded) {
    if (count == 1) {
        std::fill(padded.begin() + static_cast<std::ptrdiff_t>(from),
                  padded.begin() + static_cast<std::ptrdiff_t>(to), x[first]);
        return;
    }
    const Line line = fit_edge(x, h, first, count);
    for (std::size_t p = from; p < to; ++p) {
        padded[p] = std::fma(line.slope, static_cast<double>(p), line.intercept);
    }
}

}  // namespace

std::vector<double> pad_extrapolated(std::span<const double> x, std::size_t h) {
    const std::size_t n = x.size();
    assert(n >= 1);
    const std::size_t m = std::max<std::size_t>(1, std::min(n, h));
    std::vector<double> padded(n + 2 * h, 0.0);
    extend(x, h, 0, m, 0, h, padded);
    std::copy(x.begin(), x.end(), padded.begin() + static_cast<std::ptrdiff_t>(h));
    extend(x, h, n - m, m, h + n, n + 2 * h, padded);
    return padded;
}

void moving_average_extrapolated(std::span<const double> x, std::size_t h, std::span<double> out) {
    assert(out.size() == x.size());
    if (h == 0) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    const std::vector<double> padded = pad_extrapolated(x, h);
    const double width = static_cast<double>(2 * h + 1);
    for (std::size_t i = 0; i < x.size(); ++i) {
        double sum = -0.0;
        for (std::size_t k = i; k <= i + 2 * h; ++k) sum = sum + padded[k];
        out[i] = sum / width;
    }
}

Result<FitReport> rolling_ball_into(std::span<const double> y, std::size_t window_size,
                                    std::span<double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (window_size == 0) return InvalidParameter{"window_size", "must be greater than zero"};

    const std::size_t h = window_size / 2;
    const std::vector<double> opened = opening_reflect(y, h);
    moving_average_extrapolated(opened, h, baseline);
    return single_pass;
}

Result<Fit> rolling_ball(std::span<const double> y, std::size_t window_size) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) {
        return rolling_ball_into(y, window_size, baseline);
    });
}

}  // namespace quorvel::morphology
