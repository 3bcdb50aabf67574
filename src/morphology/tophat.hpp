// Top-hat baseline: the flat morphological opening itself (Perez-Pueyo et al., Appl. Spectrosc. 64
// (2010) 595), a minimum then a maximum over a window of 2h + 1 samples, edges reflected half a
// sample out. The top-hat transform proper is data - opening, what correct gives.
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"

namespace quorvel::morphology {

Result<FitReport> tophat_into(std::span<const double> y, std::uint64_t half_window, std::span<double> baseline);

// On grids the window is (2 hr + 1) x (2 hc + 1); the grid is validated by the caller.
Result<FitReport> tophat_into(const two_d::Grid& data, std::uint64_t half_rows, std::uint64_t half_cols,
                              const two_d::GridOut& output);

}  // namespace quorvel::morphology
