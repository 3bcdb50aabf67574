#include "passes.hpp"

#include <algorithm>
#include <cstdint>

#include "core/numeric.hpp"
#include "simd/cpu.hpp"

namespace quorvel::polynomial {
namespace {

// Taken and returned by value so that the seven sums live in registers.
LowOrderSums add_samples(LowOrderSums s, const double* x, const double* y, std::size_t count) {
    for (std::size_t j = 0; j < count; ++j) {
        const double xx = x[j] * x[j];
        s.x = x[j] + s.x;
        s.xx = xx + s.xx;
        s.xxx = x[j] * xx + s.xxx;
        s.xxxx = xx * xx + s.xxxx;
        s.y = y[j] + s.y;
        s.yx = y[j] * x[j] + s.yx;
        s.yxx = y[j] * xx + s.yxx;
    }
    return s;
}

}  // namespace

LowOrderSums low_order_sums(const double* y, std::size_t n) {
    if (n == 1) {
        const double x = scaled_coordinate(0, 1);
        return add_samples({}, &x, y, 1);
    }
    // The coordinates are formed a block ahead of their use so that the divisions run side by side.
    constexpr std::size_t block = 256;
    double x[block];
    LowOrderSums s;
    for (std::size_t start = 0; start < n; start += block) {
        const std::size_t count = std::min(block, n - start);
        scaled_coordinates(start, count, n, x);
        s = add_samples(s, x, y + start, count);
    }
    return s;
}

void scaled_coordinates(std::size_t start, std::size_t count, std::size_t n, double* x) {
    const double base = static_cast<double>(start), last = static_cast<double>(n - 1);
    for (std::int32_t j = 0; j < static_cast<std::int32_t>(count); ++j) {
        // base + j is an integer below 2^53, so this is exactly static_cast<double>(start + j).
        const double fi = base + static_cast<double>(j);
        x[j] = (fi + fi) / last - 1.0;
    }
}

Passes passes_for_this_cpu() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return {low_order_sums_avx2, scaled_coordinates_avx2};
#endif
    return {low_order_sums, scaled_coordinates};
}

}  // namespace quorvel::polynomial
