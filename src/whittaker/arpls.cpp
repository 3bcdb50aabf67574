#include "arpls.hpp"

#include <algorithm>
#include <cmath>

#include "../numeric.hpp"
#include "../workspace.hpp"

namespace quorvel::whittaker {
namespace {

// 1 - sigmoid(t), in the branch that only ever exponentiates a non-positive number.
double one_minus_logistic(double t) {
    if (t >= 0.0) return 1.0 - 1.0 / (1.0 + std::exp(-t));
    const double e = std::exp(t);
    return 1.0 - e / (1.0 + e);
}

}  // namespace

double update_masked(const ArPlsWeights&, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights,
                     std::span<const double> previous, std::size_t, Mask mask) {
    const std::size_t len = std::min(y.size(), baseline.size());
    auto collected = [&](std::size_t i) { return !is_masked_out(mask, i) && y[i] - baseline[i] < 0.0; };

    std::size_t count = 0;
    double sum = -0.0;
    for (std::size_t i = 0; i < len; ++i) {
        if (collected(i)) {
            sum = sum + (y[i] - baseline[i]);
            ++count;
        }
    }
    if (count == 0) {
        set_uniform_weights(weights, mask);
        return relative_weight_change(previous, weights);
    }

    const double c = static_cast<double>(count);
    const double mean = sum / c;
    double sq = -0.0;
    for (std::size_t i = 0; i < len; ++i) {
        if (collected(i)) {
            const double dev = (y[i] - baseline[i]) - mean;
            sq = sq + dev * dev;
        }
    }
    const double s = std::fmax(std::sqrt(sq / c), epsilon);
    const double g = (s + s) - mean;

    const std::size_t wlen = std::min(len, weights.size());
    for (std::size_t i = 0; i < wlen; ++i) {
        if (is_masked_out(mask, i)) {
            weights[i] = 0.0;
        } else {
            const double d = y[i] - baseline[i];
            weights[i] = one_minus_logistic(((d - g) + (d - g)) / s);
        }
    }
    return relative_weight_change(previous, weights);
}

}  // namespace quorvel::whittaker
