#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "error.hpp"

namespace quorvel {

struct FitReport {
    std::uint64_t iterations;
    double last_change;
    bool converged;
    std::uint64_t short_solves = 0;  // the linear solves of an iterative solver that stopped short of their tolerance
};

// Non-iterative methods report a single, converged pass.
inline constexpr FitReport single_pass{1, 0.0, true};

struct Fit {
    std::vector<double> baseline;
    FitReport report;
};

// The allocating form of an `_into` operation: a zero-filled output of n values,
// handed over on success and released on error.
template <class Into>
Result<Fit> fit_allocated(std::size_t n, Into into) {
    std::vector<double> baseline(n, 0.0);
    auto report = into(std::span<double>(baseline));
    if (!report) return report.error();
    return Fit{std::move(baseline), report.value()};
}

}  // namespace quorvel
