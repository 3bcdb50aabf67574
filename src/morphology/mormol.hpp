// MorMol baseline (Koch et al., J. Raman Spectrosc. 48 (2017) 336): on the data extended by 2h + 1 samples at
// each end along the least-squares line through its outermost 2h + 1, b <- b + M(erosion(S(y - b))) from b = 0,
// M the normalised mollifier over 4h + 3 samples and S, when smooth_half_window > 1, the mollifier over
// 2 smooth_half_window + 1 (edges mirrored without repeating the end sample), until ‖b_new - b‖ / ‖b‖ over the
// data's own samples falls below tol (the first pass, from zero, never does unless it changes nothing). As in
// pybaselines it keeps the newest baseline and makes at most max_iter + 1 passes, each counted as an iteration.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "imor.hpp"

namespace quorvel::morphology {

// `history`, when given, receives the relative change of every pass.
Result<FitReport> mormol_into(std::span<const double> y, std::uint64_t half_window, std::uint64_t smooth_half_window,
                              ImorParams params, std::span<double> baseline, std::vector<double>* history);

}  // namespace quorvel::morphology
