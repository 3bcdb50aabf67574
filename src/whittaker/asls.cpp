#include "asls.hpp"

#include <algorithm>

#include "../workspace.hpp"

namespace quorvel::whittaker {

double update_masked(const AslsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights,
                     std::span<const double> previous, std::size_t, Mask mask) {
    const double below = 1.0 - rule.p;
    const std::size_t len = std::min({y.size(), baseline.size(), weights.size()});
    for (std::size_t i = 0; i < len; ++i) {
        if (is_masked_out(mask, i)) {
            weights[i] = 0.0;
        } else {
            weights[i] = y[i] > baseline[i] ? rule.p : below;
        }
    }
    return relative_weight_change(previous, weights);
}

}  // namespace quorvel::whittaker
