// The statistics of the residuals below the baseline, on which the arPLS-like rules build.
#pragma once

#include <cstddef>
#include <span>

#include "core/mask.hpp"

namespace quorvel::whittaker {

struct NegativeResiduals {
    std::size_t count;
    double mean;       // of y - baseline where it is negative
    double deviation;  // sample standard deviation of the same (n - 1 divisor); 0 below two
};

// The rules built on these statistics have nothing to weight by below two such residuals.
inline bool too_few(const NegativeResiduals& below) { return below.count < 2; }

NegativeResiduals negative_residuals(std::span<const double> y, std::span<const double> baseline, Mask mask);

}  // namespace quorvel::whittaker
