#include "moving_median.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel::smoothing {
namespace {

std::size_t clamped(std::ptrdiff_t i, std::size_t n) {
    return static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(i, 0, static_cast<std::ptrdiff_t>(n) - 1));
}

// The first place in [first, first + count) whose value is not below `value` (below_or_equal: above it).
template <bool below_or_equal>
double* bound(double* first, std::size_t count, double value) {
    while (count > 0) {
        const std::size_t half = count / 2;
        if (below_or_equal ? first[half] <= value : first[half] < value) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

// How many of the window's values lie below `value` (or_equal: at or below it), without a branch on the data
// (moving windows of noise defeat the branch predictor); the loop vectorises.
template <bool or_equal>
std::size_t rank(const double* window, std::size_t size, double value) {
    std::size_t count = 0;
    for (std::size_t k = 0; k < size; ++k) count += or_equal ? window[k] <= value : window[k] < value;
    return count;
}

// Half windows from which sorted blocks beat a sorted window on spectra.
constexpr std::size_t smallest_blocked = 8;
// Blocks rank their values in 32 bits.
constexpr std::size_t largest_blocked = std::size_t{1} << 30;

// Windows up to this size find places by counting, larger ones by binary search.
constexpr std::size_t counted = 96;

// Takes one copy of `leaving` out and puts `entering` in, shifting only the values between the two places.
void replace(std::vector<double>& window, double leaving, double entering) {
    double* const w = window.data();
    const std::size_t size = window.size();
    std::size_t out = 0, place = 0;  // place: where entering goes once leaving is out
    if (size <= counted) {
        out = rank<false>(w, size, leaving);
        place = rank<true>(w, size, entering) - (leaving <= entering);
    } else {
        out = static_cast<std::size_t>(bound<false>(w, size, leaving) - w);
        const double* above = entering > leaving ? bound<true>(w + out + 1, size - out - 1, entering) - 1
                                                 : bound<true>(w, out, entering);
        place = static_cast<std::size_t>(above - w);
    }
    for (std::size_t k = out; k < place; ++k) w[k] = w[k + 1];
    for (std::size_t k = out; k > place; --k) w[k] = w[k - 1];
    w[place] = entering;
}

double middle(const std::vector<double>& window) { return window[window.size() / 2]; }

}  // namespace

void moving_median_repeated(std::span<const double> z, std::size_t h, std::span<double> out, MedianWorkspace& work) {
    // A padding that overflowed (data near the top of the double range) holds NaN, which no sorted window can
    // place: the medians are NaN, for the caller to refuse as an overflow.
    if (std::any_of(z.begin(), z.end(), [](double v) { return std::isnan(v); })) {
        std::fill(out.begin(), out.end(), std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (h >= smallest_blocked && h < largest_blocked) {
        block_median(z, h, out, work.blocks);
        return;
    }
    auto& window = work.window;
    window.assign(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(2 * h + 1));
    std::sort(window.begin(), window.end());
    double leaving = z[0];  // read before out[0], which may overwrite it
    out[0] = middle(window);
    for (std::size_t i = 1; i < out.size(); ++i) {
        const double next_leaving = z[i];
        replace(window, leaving, z[i + 2 * h]);
        out[i] = middle(window);
        leaving = next_leaving;
    }
}

void moving_median_nearest(std::span<const double> x, std::size_t rows, std::size_t cols, std::size_t a,
                           std::size_t b, std::span<double> out, MedianWorkspace& work) {
    const auto ra = static_cast<std::ptrdiff_t>(a), rb = static_cast<std::ptrdiff_t>(b);
    const auto value = [&](std::ptrdiff_t i, std::ptrdiff_t c) {
        return x[clamped(i, rows) * cols + clamped(c, cols)];
    };
    auto& window = work.window;
    for (std::size_t r = 0; r < rows; ++r) {
        const auto row = static_cast<std::ptrdiff_t>(r);
        window.clear();
        for (std::ptrdiff_t i = row - ra; i <= row + ra; ++i) {
            for (std::ptrdiff_t c = -rb; c <= rb; ++c) window.push_back(value(i, c));
        }
        std::sort(window.begin(), window.end());
        out[r * cols] = middle(window);
        for (std::size_t col = 1; col < cols; ++col) {
            const auto at = static_cast<std::ptrdiff_t>(col);
            if (clamped(at - rb - 1, cols) != clamped(at + rb, cols)) {
                for (std::ptrdiff_t i = row - ra; i <= row + ra; ++i) {
                    replace(window, value(i, at - rb - 1), value(i, at + rb));
                }
            }
            out[r * cols + col] = middle(window);
        }
    }
}

}  // namespace quorvel::smoothing
