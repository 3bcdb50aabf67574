#include "bridge.hpp"

#include <algorithm>
#include <vector>

namespace quorvel {
namespace {

// Bridges the gaps of one line of n values spaced `stride` apart, in place; `used(i)` tells
// whether sample i of the line holds data.
template <class Used>
void bridge_line(double* line, std::size_t n, std::size_t stride, Used used) {
    std::size_t previous = n;  // the last used sample seen, n while none
    for (std::size_t i = 0; i < n; ++i) {
        if (!used(i)) continue;
        const double value = line[i * stride];
        if (previous == n) {
            for (std::size_t j = 0; j < i; ++j) line[j * stride] = value;
        } else {
            const double start = line[previous * stride];
            const double span = static_cast<double>(i - previous);
            for (std::size_t j = previous + 1; j < i; ++j) {
                line[j * stride] = start + (value - start) * (static_cast<double>(j - previous) / span);
            }
        }
        previous = i;
    }
    if (previous == n) return;
    for (std::size_t j = previous + 1; j < n; ++j) line[j * stride] = line[previous * stride];
}

}  // namespace

void bridge_masked(std::span<const double> values, Mask mask, std::span<double> out) {
    std::copy(values.begin(), values.end(), out.begin());
    bridge_line(out.data(), out.size(), 1, [&](std::size_t i) { return !is_masked_out(mask, i); });
}

void bridge_masked_grid(std::span<const double> values, std::uint64_t rows, std::uint64_t cols, Mask mask,
                        std::span<double> out) {
    std::copy(values.begin(), values.end(), out.begin());
    std::vector<bool> row_used(rows, false);
    for (std::uint64_t r = 0; r < rows; ++r) {
        const std::size_t first = r * cols;
        for (std::uint64_t c = 0; c < cols; ++c) row_used[r] = row_used[r] || !is_masked_out(mask, first + c);
        if (row_used[r]) bridge_line(out.data() + first, cols, 1, [&](std::size_t c) {
            return !is_masked_out(mask, first + c);
        });
    }
    for (std::uint64_t c = 0; c < cols; ++c) {
        bridge_line(out.data() + c, rows, cols, [&](std::size_t r) { return bool(row_used[r]); });
    }
}

}  // namespace quorvel
