// Rolling-ball baseline: an opening, then a moving average over linearly extrapolated ends.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"

namespace quorvel::morphology {

Result<Fit> rolling_ball(std::span<const double> y, std::size_t window_size);
Result<FitReport> rolling_ball_into(std::span<const double> y, std::size_t window_size,
                                    std::span<double> baseline);

}  // namespace quorvel::morphology
