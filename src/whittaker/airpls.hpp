// airPLS: exponential weights below the baseline that sharpen with every iteration.
#pragma once

#include "reweighter.hpp"

namespace quorvel::whittaker {

struct AirPlsWeights {};

inline constexpr double airpls_weight_cap = 1e12;

double update_masked(const AirPlsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights, std::size_t iteration,
                     Mask mask = {});

}  // namespace quorvel::whittaker
