// 4S peak filling (Liland, MethodsX 2 (2015) 135): Smooth the data (a Whittaker smooth with lam_smooth, second
// differences), Subsample it to the minimum of each of `sections` equal runs, placed at the run's middle and
// joined by the end samples where a run's middle is not one, Suppress peaks by replacing each value in turn by
// the lesser of itself and the mean over its window, a sweep up and a sweep down per iteration with half windows
// shrinking geometrically from half_window to 1 over max_iter iterations, then Stretch the result back to every
// sample by straight lines. O(n) besides the smooth's O(n) and the sweeps' O(sections · half_window · max_iter).
//
// The windows shrink near the ends as the reference library's do (pybaselines 1.2.1): the sweep up as though the
// subsampled values ended one place early for each end sample joined, the sweep down as though they began that
// much late; half windows beyond (sections - 1) / 2 act as that. With one or two sections no window fits and the
// minima are joined as they are (the reference library fails there). Masked-out samples reach it bridged by
// straight lines between their used neighbours, so they count in the minima as the line there.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "linalg/pentadiagonal.hpp"

namespace quorvel::smoothing {

struct PeakFillingParams {
    std::uint64_t half_window;  // 0: `estimate` decides it from the subsampled values
    std::uint64_t sections;     // 1 to the data's length
    std::uint64_t max_iter;     // at least 1
    double lam_smooth;          // 0: no smoothing
};

struct PeakFillingWorkspace {
    std::vector<double> smoothed, ones, low, at;
    linalg::pentadiagonal::PentadiagonalWorkspace smooth;
};

// The half window for half_window = 0, from the subsampled values.
using WindowEstimate = std::uint64_t (*)(std::span<const double> subsampled);

// `decided`, when given, receives the half window used before it is limited to (sections - 1) / 2.
Result<FitReport> peak_filling_into(std::span<const double> y, const PeakFillingParams& params,
                                    std::span<double> baseline, PeakFillingWorkspace& work, WindowEstimate estimate,
                                    std::uint64_t* decided);

}  // namespace quorvel::smoothing
