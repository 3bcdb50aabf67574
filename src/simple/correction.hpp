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
inline Result<std::vector<double>> finite_or_overflow(std::vector<double> values, const char* what,
                                                      const char* overflow) {
    if (first_non_finite(values)) return InvalidParameter{what, overflow};
    return values;
}

inline Result<std::vector<double>> baseline_of(Result<Fit> fit, const char* what) {
    if (!fit) return fit.error();
    return finite_or_overflow(std::move(fit).value().baseline, what,
                              "values too large, the baseline overflows");
}

// `what` names the input, both in the length guard (which no algorithm of the library can
// trip) and in the overflow report.
inline Result<std::vector<double>> subtract_baseline(std::span<const double> data, Result<Fit> fit,
                                                     const char* what) {
    auto baseline = baseline_of(std::move(fit), what);
    if (!baseline) return baseline.error();
    std::vector<double> values = std::move(baseline).value();
    if (values.size() != data.size()) return LengthMismatch{what, values.size(), data.size()};
    // The baseline's storage takes the corrected values: one large allocation less per call.
    for (std::size_t i = 0; i < data.size(); ++i) values[i] = data[i] - values[i];
    return finite_or_overflow(std::move(values), what,
                              "values too large, the corrected signal overflows");
}

}  // namespace quorvel::simple
