#include "iarpls.hpp"

#include <cmath>

#include "negative_residuals.hpp"

namespace quorvel::whittaker {

double update_masked(const IarPlsWeights&, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask) {
    const NegativeResiduals below = negative_residuals(y, baseline, mask);
    if (too_few(below)) return exhausted;
    // e^t / sigma may be infinite; s is then infinite too, never NaN, as its zero factor is caught first.
    const double growth = std::exp(static_cast<double>(iteration + 1)) / below.deviation;
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        const double shifted = y[i] - baseline[i] - 2.0 * below.deviation;
        if (shifted == 0.0) return 0.5;
        // 1/2 (1 - s / h), h = sqrt(1 + s^2), as 1 / (2 h (h + |s|)) on the side where it would cancel;
        // past 2^500, h is |s| to the last bit and s^2 would overflow.
        const double s = shifted * growth, a = std::fabs(s);
        const double h = a < 0x1p500 ? std::sqrt(1.0 + s * s) : a, tail = 0.5 / (h * (h + a));
        return pick(s > 0.0, tail, 1.0 - tail);
    });
}

}  // namespace quorvel::whittaker
