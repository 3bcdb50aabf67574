#include "lsrpls.hpp"

#include <cmath>

#include "negative_residuals.hpp"

namespace quorvel::whittaker {

double update_masked(const LsrPlsWeights&, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask) {
    const NegativeResiduals below = negative_residuals(y, baseline, mask);
    if (too_few(below)) return exhausted;
    const double growth = std::pow(10.0, static_cast<double>(iteration + 1)) / below.deviation;
    const double shift = 2.0 * below.deviation - below.mean;
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        return half_soft_sign_weight(y[i] - baseline[i] - shift, growth);
    });
}

}  // namespace quorvel::whittaker
