#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "whittaker.hpp"
#include "whittaker/workspace.hpp"

namespace quorvel::two_d::whittaker {

double reweight(const AslsWeights& rule, std::span<const double> data, std::span<const double> surface,
                std::span<double> weights, Mask mask) {
    const double below = 1.0 - rule.p;
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        return data[i] > surface[i] ? rule.p : below;
    });
}

// Unlike the one-dimensional rule: sample standard deviation, uniform weights below two
// negative residuals, and the threshold formed from the unfloored deviation.
double reweight(const ArPlsWeights&, std::span<const double> data, std::span<const double> surface,
                std::span<double> weights, Mask mask) {
    const std::size_t n = weights.size();
    auto collected = [&](std::size_t i, double d) { return d < 0.0 && !is_masked_out(mask, i); };
    std::size_t count = 0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = data[i] - surface[i];
        if (collected(i, d)) {
            sum = sum + d;
            ++count;
        }
    }
    if (count < 2) return rewrite_weights(weights, [&](std::size_t i) { return is_masked_out(mask, i) ? 0.0 : 1.0; });
    const double c = static_cast<double>(count);
    const double mean = sum / c;
    double sq = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = data[i] - surface[i];
        if (collected(i, d)) sq = sq + (d - mean) * (d - mean);
    }
    const double s = std::sqrt(sq / static_cast<double>(count - 1));
    const double g = (s + s) - mean;
    const double spread = std::fmax(s, epsilon);
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        const double d = data[i] - surface[i];
        const double t = ((d - g) + (d - g)) / spread;
        if (t >= 0.0) return 1.0 - 1.0 / (std::exp(-t) + 1.0);
        const double e = std::exp(t);
        return 1.0 - e / (e + 1.0);
    });
}

}  // namespace quorvel::two_d::whittaker
