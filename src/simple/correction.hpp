// The baseline/corrected split shared by the one- and two-dimensional dispatch.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "../error.hpp"
#include "../fit_report.hpp"

namespace quorvel::simple {

inline Result<std::vector<double>> baseline_of(Result<Fit> fit) {
    if (!fit) return fit.error();
    return std::move(fit).value().baseline;
}

// `what` names the input in the length guard, which no algorithm of the library can trip.
inline Result<std::vector<double>> subtract_baseline(std::span<const double> data, Result<Fit> fit,
                                              const char* what) {
    if (!fit) return fit.error();
    std::vector<double> values = std::move(fit).value().baseline;
    if (values.size() != data.size()) return LengthMismatch{what, values.size(), data.size()};
    // The baseline's storage takes the corrected values: one large allocation less per call.
    for (std::size_t i = 0; i < data.size(); ++i) values[i] = data[i] - values[i];
    return values;
}

}  // namespace quorvel::simple
