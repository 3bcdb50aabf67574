#include "iarpls.hpp"

#include <cmath>

#include "negative_residuals.hpp"

namespace quorvel::whittaker {

double update_masked(const IarPlsWeights&, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask) {
    const NegativeResiduals below = negative_residuals(y, baseline, mask);
    if (too_few(below)) return exhausted;
    const double shrink = std::exp(-static_cast<double>(iteration + 1));
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        const double u = (y[i] - baseline[i] - 2.0 * below.deviation) / below.deviation;
        if (u == 0.0) return 0.5;
        // 1/2 (1 - s / h), h = sqrt(1 + s^2), as 1 / (2 h (h + |s|)) on the side where it would cancel.
        const double s = u / shrink, h = std::hypot(1.0, s), tail = 0.5 / (h * (h + std::fabs(s)));
        return s > 0.0 ? tail : 1.0 - tail;
    });
}

}  // namespace quorvel::whittaker
