// Moving window minimum value baseline (Yaroshchyk & Eberhardt, Spectrochim. Acta B 99 (2014) 138): the moving
// minimum of the data over 2 half_window + 1 samples (the flat erosion, edges mirrored half a sample out, which
// keeps each window's minimum over the samples it covers), then its moving average over 2 smooth_half_window + 1
// samples, the ends first carried on along the least-squares line of as many edge samples. O(n) in all.
// Masked-out samples reach it bridged by straight lines between their used neighbours, so they count in the
// minima as the line there, never as their own values.
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "core/fit_report.hpp"

namespace quorvel::morphology {

// smooth_half_window 0: the erosion alone.
Result<FitReport> mwmv_into(std::span<const double> y, std::uint64_t half_window, std::uint64_t smooth_half_window,
                            std::span<double> baseline);

}  // namespace quorvel::morphology
