#include "extrema.hpp"

#include <algorithm>
#include <cassert>
#include <limits>

namespace quorvel::morphology {
namespace {

// Direct scan of every window; `better(a, b)` says a replaces the running value b.
template <class Better>
void moving_extremum(std::span<const double> x, std::size_t h, std::span<double> out, double start,
                     Better better) {
    const std::size_t n = x.size();
    const auto width = static_cast<std::int64_t>(h);
    auto edge = [&](std::size_t i) {
        double value = start;
        const auto centre = static_cast<std::int64_t>(i);
        for (std::int64_t k = centre - width; k <= centre + width; ++k) {
            const double v = x[reflect_index(k, n)];
            if (better(v, value)) value = v;
        }
        return value;
    };
    auto interior = [&](std::size_t i) {
        double value = start;
        for (std::size_t k = i - h; k <= i + h; ++k) {
            if (better(x[k], value)) value = x[k];
        }
        return value;
    };
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = (i >= h && i + h < n) ? interior(i) : edge(i);
    }
}

}  // namespace

std::size_t reflect_index(std::int64_t j, std::size_t n) {
    // The reflected extension repeats with period 2n, so one remainder replaces the bouncing.
    const auto size = static_cast<std::int64_t>(n);
    std::int64_t r = j % (2 * size);
    if (r < 0) r += 2 * size;
    return static_cast<std::size_t>(r < size ? r : 2 * size - 1 - r);
}

std::vector<double> moving_min_reflect(std::span<const double> x, std::size_t h) {
    std::vector<double> out(x.begin(), x.end());
    if (h == 0 || x.empty()) return out;
    moving_extremum(x, h, out, std::numeric_limits<double>::infinity(),
                    [](double v, double running) { return v < running; });
    return out;
}

void moving_max_reflect(std::span<const double> x, std::size_t h, std::span<double> out) {
    assert(out.size() == x.size());
    if (h == 0) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    moving_extremum(x, h, out, -std::numeric_limits<double>::infinity(),
                    [](double v, double running) { return v > running; });
}

std::vector<double> opening_reflect(std::span<const double> x, std::size_t h) {
    const std::vector<double> eroded = moving_min_reflect(x, h);
    std::vector<double> opened(x.size(), 0.0);
    moving_max_reflect(eroded, h, opened);
    return opened;
}

}  // namespace quorvel::morphology
