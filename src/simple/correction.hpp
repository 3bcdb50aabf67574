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
    const std::vector<double> baseline = std::move(fit).value().baseline;
    if (baseline.size() != data.size()) return LengthMismatch{what, baseline.size(), data.size()};
    std::vector<double> corrected(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) corrected[i] = data[i] - baseline[i];
    return corrected;
}

}  // namespace quorvel::simple
