// Joint baseline correction and denoising (Liu et al., Appl. Spectrosc. 69 (2015) 1013): the data split into a
// baseline b near the opening o of the data and a smooth signal s, by alternating the two quadratic steps of
//     min ½‖y − s − b‖² + α‖b − o‖² + β‖D b‖² + (γ/2)‖D s‖²
// (the weights as the reference library scales them): s from (I + γ D'D) s = y − b, then b from
// ((1 + 2α) I + 2β D'D) b = y − s + 2α o, β and γ multiplied by beta_mult and gamma_mult after each pass. It
// starts from b = o and s = y and stops once the signal changes by less than tol and the baseline by less than
// tol_2 (relative Euclidean distances), after at most max_iter + 1 passes, returning the newest baseline. The
// robust opening is mor's, min(o, (dilation(o) + erosion(o)) / 2). Two banded solves per pass, O(n · order²).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"


namespace quorvel::morphology {

struct JbcdParams {
    std::uint64_t half_window;        // at least 1
    double alpha, beta, gamma;        // finite, >= 0
    double beta_mult, gamma_mult;     // finite, > 0
    std::uint64_t diff_order;         // 1 to 3
    std::uint64_t max_iter;           // at least 1
    double tol, tol_2;                // >= 0
    bool robust_opening;
};

struct JbcdWorkspace {
    std::vector<double> opening, signal, next_signal, next_baseline, diagonal, rhs;
    std::vector<double> factor;
};

// history: the baseline's relative change in each pass (the report's last_change is the last of them).
Result<FitReport> jbcd_into(std::span<const double> y, const JbcdParams& params, std::span<double> baseline,
                            JbcdWorkspace& work, std::vector<double>* history);

}  // namespace quorvel::morphology
