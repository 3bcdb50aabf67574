#include "mwmv.hpp"

#include <vector>

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"
#include "extrema.hpp"

namespace quorvel::morphology {
namespace {

// The mean over 2s + 1 values of `padded` (n + 2s of them) at each of the n middle positions: each window's sum
// taken afresh every 2s + 1 positions and slid in between, in O(n), rounding never built up over more than one
// window.
void moving_mean(std::span<const double> padded, std::size_t s, std::span<double> out) {
    const std::size_t width = 2 * s + 1;
    double sum = 0.0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i % width == 0) {
            sum = 0.0;
            for (std::size_t k = i; k < i + width; ++k) sum += padded[k];
        } else {
            sum += padded[i + width - 1] - padded[i - 1];
        }
        out[i] = sum / static_cast<double>(width);
    }
}

}  // namespace

Result<FitReport> mwmv_into(std::span<const double> y, std::uint64_t half_window, std::uint64_t smooth_half_window,
                            std::span<double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (smooth_half_window > n) return InvalidParameter{"smooth_half_window", "must be from 0 to the data's length"};
    moving_min_reflect(y, half_window, baseline);
    if (smooth_half_window == 0) return single_pass;
    std::vector<double> padded(n + 2 * smooth_half_window);
    pad_extrapolated_into(baseline, smooth_half_window, padded);
    moving_mean(padded, smooth_half_window, baseline);
    return single_pass;
}

}  // namespace quorvel::morphology
