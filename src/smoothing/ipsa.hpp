// Iterative polynomial smoothing (Wang et al., Appl. Spectrosc. 71 (2017) 1169): the data, clipped from above by
// the last baseline, smoothed by a quadratic Savitzky-Golay filter of 2h + 1 taps, over and over, until the
// baseline changes by less than tol (relative Euclidean distance over the data's samples), at most max_iter + 1
// passes; the newest baseline. As the reference library does, the data are first extended by 2h + 1 samples at
// each end along the least-squares line through their outermost 2h + 1, the passes run over the extended data,
// and each smooth repeats the extension's end samples. O(n h) per pass (O(n log h) beyond 65 taps).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"

namespace quorvel::smoothing {

struct IpsaParams {
    std::uint64_t half_window;  // at least 1
    std::uint64_t max_iter;     // at least 1
    double tol;                 // >= 0
};

struct IpsaWorkspace {
    std::vector<double> padded, baseline, clipped;
};

// history: the baseline's relative change in each pass.
Result<FitReport> ipsa_into(std::span<const double> y, const IpsaParams& params, std::span<double> baseline,
                            IpsaWorkspace& work, std::vector<double>* history);

}  // namespace quorvel::smoothing
