// From a fitted baseline to what a caller asked for, never passing an overflow off as a result.
#pragma once

#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"

namespace quorvel::dispatch {

// Finite samples near the top of the double range can overflow inside a fit (a sum of a
// window, a normal equation) or in the subtraction; such a result must not pass as success.
inline constexpr const char* baseline_overflow = "values too large, the baseline overflows";
inline constexpr const char* difference_overflow = "values too large, the corrected signal overflows";

// Checks the baseline and writes data - baseline into `corrected` (which may be the baseline's
// storage). A value that overflows is an error, except at masked-out samples, whose data may be
// anything and whose difference is passed on as it is. `what` names the input.
Status subtract_checked(std::span<const double> data, std::span<const double> baseline, Mask mask,
                        std::span<double> corrected, const char* what);

// The baseline of a fit, checked.
Result<std::vector<double>> baseline_of(Result<Fit> fit, const char* what);

// data - the baseline of a fit, in the baseline's storage (one large allocation less per call).
Result<std::vector<double>> subtract_baseline(std::span<const double> data, Result<Fit> fit, const char* what);

}  // namespace quorvel::dispatch
