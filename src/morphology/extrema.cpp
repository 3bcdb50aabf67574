#include "extrema.hpp"

#include <algorithm>
#include <cassert>
#include <limits>

namespace quorvel::morphology {
namespace {

template <class Better>
void moving_extremum(std::span<const double> x, std::size_t h, std::span<double> out, double start, Better better) {
    std::vector<double> scratch;
    sliding_extremum<1, false>(x.size(), h, 1, [&x](std::size_t p) { return &x[p]; }, out.data(), 1, start, better, scratch);
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
    std::vector<double> out(x.size());
    moving_min_reflect(x, h, out);
    return out;
}

void moving_min_reflect(std::span<const double> x, std::size_t h, std::span<double> out) {
    assert(out.size() == x.size());
    if (h == 0 || x.empty()) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    moving_extremum(x, h, out, std::numeric_limits<double>::infinity(), [](double a, double b) { return a < b; });
}

void moving_max_reflect(std::span<const double> x, std::size_t h, std::span<double> out) {
    assert(out.size() == x.size());
    if (h == 0 || x.empty()) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    moving_extremum(x, h, out, -std::numeric_limits<double>::infinity(), [](double a, double b) { return a > b; });
}

std::vector<double> opening_reflect(std::span<const double> x, std::size_t h) {
    const std::vector<double> eroded = moving_min_reflect(x, h);
    std::vector<double> opened(x.size(), 0.0);
    moving_max_reflect(eroded, h, opened);
    return opened;
}

}  // namespace quorvel::morphology
