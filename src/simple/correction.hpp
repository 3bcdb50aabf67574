// The baseline/corrected split shared by the one- and two-dimensional dispatch.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "../error.hpp"
#include "../fit_report.hpp"
#include "../numeric.hpp"

namespace quorvel::simple {

// Finite samples near the top of the double range can overflow inside a fit (a sum of a
// window, a normal equation) or in the subtraction; such a result must not pass as success.
inline constexpr const char* baseline_overflow = "values too large, the baseline overflows";
inline constexpr const char* difference_overflow = "values too large, the corrected signal overflows";

inline Result<std::vector<double>> baseline_of(Result<Fit> fit, const char* what) {
    if (!fit) return fit.error();
    std::vector<double> values = std::move(fit).value().baseline;
    if (first_non_finite(values)) return InvalidParameter{what, baseline_overflow};
    return values;
}

// `what` names the input, both in the length guard (which no algorithm of the library can
// trip) and in the overflow report.
inline Result<std::vector<double>> subtract_baseline(std::span<const double> data, Result<Fit> fit,
                                                     const char* what) {
    if (!fit) return fit.error();
    std::vector<double> values = std::move(fit).value().baseline;
    if (values.size() != data.size()) return LengthMismatch{what, values.size(), data.size()};
    // The baseline's storage takes the corrected values (one large allocation less per call),
    // and the same pass watches both for overflow.
    bool baseline_overflows = false, difference_overflows = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        baseline_overflows |= is_non_finite(values[i]);
        values[i] = data[i] - values[i];
        difference_overflows |= is_non_finite(values[i]);
    }
    if (baseline_overflows) return InvalidParameter{what, baseline_overflow};
    if (difference_overflows) return InvalidParameter{what, difference_overflow};
    return values;
}

}  // namespace quorvel::simple
