// IMor baseline (Dai et al., Appl. Spectrosc. 72 (2018) 731): mor's averaged opening repeated on its own
// result, each pass capped by the data, b <- min(y, (dilation(o) + erosion(o)) / 2) with o the opening of b,
// from b = y, until ‖b_new - b‖ / ‖b‖ falls below tol. As in pybaselines the fit keeps the baseline from
// before the pass that met tol, and makes at most max_iter + 1 passes, each counted as an iteration.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"

namespace quorvel::morphology {

struct ImorParams {
    double tol;
    std::uint64_t max_iter;
};

// The checks of an iterated fit of a spectrum in the library's order: the data, the output, the window, then
// tol and max_iter.
Status check_iterated(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                      std::span<const double> baseline);

// `history`, when given, receives the relative change of every pass.
Result<FitReport> imor_into(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                            std::span<double> baseline, std::vector<double>* history);

// On grids the window is (2 hr + 1) x (2 hc + 1); the grid is validated by the caller.
Result<FitReport> imor_into(const two_d::Grid& data, std::uint64_t half_rows, std::uint64_t half_cols,
                            ImorParams params, const two_d::GridOut& output, std::vector<double>* history);

}  // namespace quorvel::morphology
