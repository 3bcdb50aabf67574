// IarPLS (Ye et al., Appl. Optics 59 (2020) 10933): arPLS with a weight that falls as
// 1/2 (1 - s / sqrt(1 + s^2)), s = e^t (d - 2 sigma) / sigma, steeper with every iteration t.
#pragma once

#include "reweighter.hpp"

namespace quorvel::whittaker {

struct IarPlsWeights {
    static constexpr bool reference_loop = true;
};

double update_masked(const IarPlsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

}  // namespace quorvel::whittaker
