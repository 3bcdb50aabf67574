#include "arpls.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::whittaker {
namespace {

// 1 - sigmoid(t), in the branch that only ever exponentiates a non-positive number.
double one_minus_logistic(double t) {
    if (t >= 0.0) return 1.0 - 1.0 / (1.0 + std::exp(-t));
    const double e = std::exp(t);
    return 1.0 - e / (1.0 + e);
}

}  // namespace

double update_masked(const ArPlsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    const std::size_t len = std::min(y.size(), baseline.size());
    auto collected = [&](std::size_t i) { return !is_masked_out(mask, i) && y[i] - baseline[i] < 0.0; };
    const bool sample = rule.sample_statistics;
    // Each form keeps the start its sums have always had.
    const double zero = sample ? 0.0 : -0.0;

    std::size_t count = 0;
    double sum = zero;
    for (std::size_t i = 0; i < len; ++i) {
        if (collected(i)) {
            sum = sum + (y[i] - baseline[i]);
            ++count;
        }
    }
    if (count < (sample ? 2u : 1u)) return set_uniform_weights(weights, mask);

    const double c = static_cast<double>(count);
    const double mean = sum / c;
    double sq = zero;
    for (std::size_t i = 0; i < len; ++i) {
        if (collected(i)) {
            const double dev = (y[i] - baseline[i]) - mean;
            sq = sq + dev * dev;
        }
    }
    const double deviation = std::sqrt(sq / static_cast<double>(sample ? count - 1 : count));
    const double s = std::fmax(deviation, epsilon);
    const double g = sample ? (deviation + deviation) - mean : (s + s) - mean;

    return rewrite_weights(weights, [&](std::size_t i) {
        if (i >= len) return weights[i];
        if (is_masked_out(mask, i)) return 0.0;
        const double d = y[i] - baseline[i];
        return one_minus_logistic(((d - g) + (d - g)) / s);
    });
}

}  // namespace quorvel::whittaker
