#pragma once

#include <cstdint>
#include <vector>

namespace quorvel {

struct FitReport {
    std::uint64_t iterations;
    double last_change;
    bool converged;
};

// Non-iterative methods report a single, converged pass.
inline constexpr FitReport single_pass{1, 0.0, true};

struct Fit {
    std::vector<double> baseline;
    FitReport report;
};

}  // namespace quorvel
