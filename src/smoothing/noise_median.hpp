// Noise-median baseline (Friedrichs, J. Biomol. NMR 5 (1995) 147): the moving median of the data over
// 2 half_window + 1 samples, which passes under peaks narrower than half the window, then smoothed by a
// Gaussian of 2 smooth_half_window + 1 taps and standard deviation sigma. Cost: O(n log w) comparisons for the
// median (moving_median.hpp) and at most O(n log n) for the smoothing (gaussian.hpp).
//
// Edges, as the reference library handles them by default: spectra are first carried on for half_window
// samples past each end along the least-squares line of as many edge samples, the median's window repeats the
// padded ends, and the smoothing reflects the padded median about its end samples; the baseline is the middle.
// Grids take the median with the edge rows and columns repeated, then smooth along each axis with the median
// reflected about its edges. Masked-out samples reach it bridged by straight lines between their used
// neighbours, so they count in the medians as the line there, never as their own values.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"
#include "moving_median.hpp"

namespace quorvel::smoothing {

struct NoiseMedianParams {
    std::array<std::uint64_t, 2> half_window;  // spectra: the first; grids: along axis 0, axis 1
    std::uint64_t smooth_half_window;          // 0: no smoothing
    double sigma;
};

// Half windows from 1 to each extent, a smoothing half window up to the larger extent, sigma positive and
// finite.
Status check_noise_median(const NoiseMedianParams& params, std::array<std::uint64_t, 2> extents);

struct NoiseMedianWorkspace {
    std::vector<double> padded, kernel, line, smoothed, extended;
    MedianWorkspace median_work;
};

Result<FitReport> noise_median_into(std::span<const double> y, const NoiseMedianParams& params,
                                    std::span<double> baseline, NoiseMedianWorkspace& work);

// The grid is validated by the caller.
Result<FitReport> noise_median_into(const two_d::Grid& data, const NoiseMedianParams& params,
                                    const two_d::GridOut& output, NoiseMedianWorkspace& work);

}  // namespace quorvel::smoothing
