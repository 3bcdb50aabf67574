#include "rolling_ball.hpp"

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"
#include "extrema.hpp"

namespace quorvel::morphology {

Result<FitReport> rolling_ball_into(std::span<const double> y, std::size_t window_size,
                                    std::span<double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (window_size == 0) return InvalidParameter{"window_size", "must be greater than zero"};

    const std::size_t h = window_size / 2;
    // The opening goes straight into the output, which the moving average then rewrites in place.
    moving_max_reflect(moving_min_reflect(y, h), h, baseline);
    moving_average_extrapolated(baseline, h, baseline, EdgeLine::FromStart);
    return single_pass;
}

Result<Fit> rolling_ball(std::span<const double> y, std::size_t window_size) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) {
        return rolling_ball_into(y, window_size, baseline);
    });
}

}  // namespace quorvel::morphology
