#include "extrapolated.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "numeric.hpp"

namespace quorvel {
namespace {

struct Line {
    double slope;
    double intercept;
};

// Least-squares line through (h + i - origin, x[i]) for i in [first, first + count).
Line fit_edge(std::span<const double> x, std::size_t h, std::size_t first, std::size_t count, double origin) {
    double sx = -0.0, sy = -0.0, sxx = -0.0, sxy = -0.0;
    for (std::size_t i = first; i < first + count; ++i) {
        const double p = static_cast<double>(h + i) - origin;
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

// One side's extension: the line through its edge samples, or the single edge value; the line's positions count
// from `origin`.
struct Extension {
    bool constant;
    double value;
    Line line;
    double origin;

    double at(std::size_t p) const {
        return constant ? value : std::fma(line.slope, static_cast<double>(p) - origin, line.intercept);
    }
};

Extension extension(std::span<const double> x, std::size_t h, std::size_t first, std::size_t count, double origin) {
    if (count == 1) return {true, x[first], {}, origin};
    return {false, 0.0, fit_edge(x, h, first, count, origin), origin};
}

// The signal with h extrapolated values on each side, read piecewise without storing it.
struct Padded {
    std::span<const double> x;
    std::size_t h;
    Extension left, right;

    // Lines fitted on the `fit` edge samples, their positions counted as `line` says.
    Padded(std::span<const double> signal, std::size_t half, std::size_t fit, EdgeLine line) : x(signal), h(half) {
        const bool local = line == EdgeLine::Local;
        const std::size_t n = x.size();
        const std::size_t m = std::max<std::size_t>(1, std::min(n, fit));
        left = extension(x, h, 0, m, local ? static_cast<double>(h) : 0.0);
        right = extension(x, h, n - m, m, local ? static_cast<double>(h + n - m) : 0.0);
    }

    // Writes padded positions [from, to) to dst.
    void copy(std::size_t from, std::size_t to, double* dst) const {
        const std::size_t n = x.size();
        for (std::size_t p = from; p < std::min(to, h); ++p) *dst++ = left.at(p);
        const std::size_t lo = std::max(from, h), hi = std::min(to, h + n);
        if (lo < hi) dst = std::copy(x.begin() + static_cast<std::ptrdiff_t>(lo - h),
                                     x.begin() + static_cast<std::ptrdiff_t>(hi - h), dst);
        for (std::size_t p = std::max(from, h + n); p < to; ++p) *dst++ = right.at(p);
    }
};

}  // namespace

std::vector<double> pad_extrapolated(std::span<const double> x, std::size_t h, EdgeLine line) {
    assert(!x.empty());
    std::vector<double> padded(x.size() + 2 * h);
    Padded(x, h, h, line).copy(0, padded.size(), padded.data());
    return padded;
}

void pad_extrapolated_into(std::span<const double> x, std::size_t h, std::span<double> out) {
    pad_extrapolated_into(x, h, out, h);
}

void pad_extrapolated_into(std::span<const double> x, std::size_t h, std::span<double> out, std::size_t fit) {
    assert(!x.empty() && out.size() == x.size() + 2 * h);
    Padded(x, h, fit, EdgeLine::Local).copy(0, out.size(), out.data());
}

void moving_average_extrapolated(std::span<const double> x, std::size_t h, std::span<double> out, EdgeLine line) {
    assert(out.size() == x.size());
    if (h == 0) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    const Padded padded(x, h, h, line);
    const double width = static_cast<double>(2 * h + 1);
    // Each position keeps its own left-to-right sum; running the window offset in the outer
    // loop lets a block of positions advance together in vector registers. A block's window
    // values are copied before its sums are written and the next block takes its first 2h
    // values from the copy, so `out` may be `x` itself.
    constexpr std::size_t block = 256;
    std::vector<double> chunk(block + 2 * h);
    padded.copy(0, 2 * h, chunk.data());
    for (std::size_t first = 0; first < x.size(); first += block) {
        const std::size_t count = std::min(block, x.size() - first);
        padded.copy(first + 2 * h, first + count + 2 * h, chunk.data() + 2 * h);
        double* sums = out.data() + first;
        std::fill_n(sums, count, -0.0);
        for (std::size_t k = 0; k <= 2 * h; ++k) {
            const double* window = chunk.data() + k;
            for (std::size_t i = 0; i < count; ++i) sums[i] = sums[i] + window[i];
        }
        for (std::size_t i = 0; i < count; ++i) sums[i] = sums[i] / width;
        std::copy_n(chunk.data() + count, 2 * h, chunk.data());
    }
}

}  // namespace quorvel
