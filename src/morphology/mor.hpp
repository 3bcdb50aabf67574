// Mor baseline (Perez-Pueyo et al., Appl. Spectrosc. 64 (2010) 595): the flat opening o, lowered where the mean of
// o's dilation and erosion runs below it, min(o, (dilation(o) + erosion(o)) / 2).
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"

namespace quorvel::morphology {

Result<FitReport> mor_into(std::span<const double> y, std::uint64_t half_window, std::span<double> baseline);

// On grids the window is (2 hr + 1) x (2 hc + 1); the grid is validated by the caller.
Result<FitReport> mor_into(const two_d::Grid& data, std::uint64_t half_rows, std::uint64_t half_cols,
                           const two_d::GridOut& output);

}  // namespace quorvel::morphology
