// AsLS: weight p above the baseline, 1 - p on or below it.
#pragma once

#include "reweighter.hpp"

namespace quorvel::whittaker {

struct AslsWeights {
    double p;
};

double update_masked(const AslsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights, std::size_t iteration,
                     Mask mask = {});

}  // namespace quorvel::whittaker
