// Two-dimensional rolling ball: separable flat opening, then a reflected box mean.
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"

namespace quorvel::two_d::morphology {

Result<Fit> rolling_ball(const Grid& data, std::uint64_t window_rows, std::uint64_t window_cols);
Result<FitReport> rolling_ball_into(const Grid& data, std::uint64_t window_rows, std::uint64_t window_cols,
                                    const GridOut& output);

// Rectangular moving extrema with reflected edges, through the scratch grid `temp`.
void moving_min_reflect_with_workspace(std::span<const double> input, std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t hr, std::uint64_t hc, std::span<double> temp,
                                       std::span<double> out);
void moving_max_reflect_with_workspace(std::span<const double> input, std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t hr, std::uint64_t hc, std::span<double> temp,
                                       std::span<double> out);

}  // namespace quorvel::two_d::morphology
