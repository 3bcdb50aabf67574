#include "asls.hpp"

#include <algorithm>

namespace quorvel::whittaker {

double update_masked(const AslsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    const double below = 1.0 - rule.p;
    const std::size_t len = std::min({y.size(), baseline.size(), weights.size()});
    return rewrite_weights(weights, [&](std::size_t i) {
        if (i >= len) return weights[i];
        if (is_masked_out(mask, i)) return 0.0;
        return y[i] > baseline[i] ? rule.p : below;
    });
}

}  // namespace quorvel::whittaker
