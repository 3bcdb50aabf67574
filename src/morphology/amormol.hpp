// aMorMol baseline (Chen et al., Appl. Spectrosc. 73 (2019) 284): the data extended by 2h + 1 samples at each
// end along the least-squares line through its outermost 2h + 1, then b <- M(min(y, (opening(b) + closing(b))
// / 2)) from b = y, M the normalised mollifier exp(-1 / (1 - x²)) over 4h + 3 samples (edges mirrored without
// repeating the end sample), until ‖b_new - b‖ / ‖b‖ over the data's own samples falls below tol. As in
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
Result<FitReport> amormol_into(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                               std::span<double> baseline, std::vector<double>* history);

}  // namespace quorvel::morphology
