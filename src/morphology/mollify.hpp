// The passes of amormol and mormol (Chen et al., Appl. Spectrosc. 73 (2019) 284) around their mollifier
// (linalg/mollifier.hpp).
#pragma once

#include <cstddef>
#include <cstring>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "averaged_opening.hpp"
#include "core/fit_report.hpp"
#include "imor.hpp"
#include "linalg/mollifier.hpp"

namespace quorvel::morphology {

using linalg::Mollifier;

// The passes of amormol and mormol: step(current, next) on the data extended by `width` samples at each end,
// from `current`, until the relative change over the data's own samples falls below tol, at most max_iter + 1
// times; the newest baseline's own samples go to `baseline`.
template <class Step>
FitReport iterate_extended(std::vector<double> current, std::size_t width, ImorParams params,
                           std::span<double> baseline, std::vector<double>* history, Step step) {
    const std::size_t n = baseline.size();
    std::vector<double> next(current.size());
    FitReport report{0, 0.0, false};
    if (history) history->clear();
    for (std::uint64_t pass = 0; pass <= params.max_iter && !report.converged; ++pass) {
        step(std::span<const double>(current), std::span<double>(next));
        report.last_change =
            relative_change(std::span(current).subspan(width, n), std::span(next).subspan(width, n));
        report.iterations = pass + 1;
        report.converged = report.last_change < params.tol;
        if (history) history->push_back(report.last_change);
        current.swap(next);
    }
    std::copy_n(current.begin() + static_cast<std::ptrdiff_t>(width), n, baseline.begin());
    return report;
}

}  // namespace quorvel::morphology
