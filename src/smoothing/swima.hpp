// Small-window moving average (Schulze et al., Appl. Spectrosc. 66 (2012) 757): the data, smoothed once by a
// moving average of 2 smooth_half_window + 1 samples, are stripped of their peaks by moving averages of 3, 5, 7, ...
// samples, each pass keeping the lower of the last pass and its average. Each pass removes area under the peaks;
// the removal first speeds up, then slows, and once it speeds up again the peaks are gone: the pass before the
// area's second difference turns from positive to negative is the baseline (the first such pass whose half window
// is at least min_half_window). As the reference library does, the data are first extended by max_half_window
// samples at each end along the least-squares line through as many edge samples (all of them when fewer), and
// the averages reflect that extension about its end samples. O(n) per pass; at most max_half_window passes.
// Masked-out samples reach it bridged by straight lines between their used neighbours.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"

namespace quorvel::smoothing {

struct SwimaParams {
    std::uint64_t min_half_window;     // at least 1
    std::uint64_t max_half_window;     // at least 1: the most passes and the extension at each end
    std::uint64_t smooth_half_window;  // 0: no smoothing; at most the length
};

struct SwimaWorkspace {
    std::vector<double> last, next;  // the extended data of the last pass and the one being made
};

// The report counts the passes in the baseline (its half window); history holds the area's second difference
// after each of them (0 after the first). Converged when the area's removal sped up again before
// max_half_window; otherwise the last pass, unconverged.
Result<FitReport> swima_into(std::span<const double> y, const SwimaParams& params, std::span<double> baseline,
                             SwimaWorkspace& work, std::vector<double>* history);

}  // namespace quorvel::smoothing
