// arPLS: logistic weights from the statistics of the negative residuals.
#pragma once

#include "reweighter.hpp"

namespace quorvel::whittaker {

struct ArPlsWeights {};

double update_masked(const ArPlsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights, std::size_t iteration,
                     Mask mask = {});

}  // namespace quorvel::whittaker
