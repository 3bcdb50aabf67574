#include <algorithm>
#include <cmath>

#include "../numeric.hpp"
#include "whittaker.hpp"

namespace quorvel::two_d::whittaker {

void reweight(const AslsWeights& rule, std::span<const double> data, std::span<const double> surface,
              std::span<double> weights) {
    const double below = 1.0 - rule.p;
    for (std::size_t i = 0; i < weights.size(); ++i) weights[i] = data[i] > surface[i] ? rule.p : below;
}

// Unlike the one-dimensional rule: sample standard deviation, uniform weights below two
// negative residuals, and the threshold formed from the unfloored deviation.
void reweight(const ArPlsWeights&, std::span<const double> data, std::span<const double> surface,
              std::span<double> weights) {
    const std::size_t n = weights.size();
    std::size_t count = 0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = data[i] - surface[i];
        if (d < 0.0) {
            sum = sum + d;
            ++count;
        }
    }
    if (count < 2) {
        std::fill(weights.begin(), weights.end(), 1.0);
        return;
    }
    const double c = static_cast<double>(count);
    const double mean = sum / c;
    double sq = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = data[i] - surface[i];
        if (d < 0.0) sq = sq + (d - mean) * (d - mean);
    }
    const double s = std::sqrt(sq / static_cast<double>(count - 1));
    const double g = (s + s) - mean;
    const double spread = std::fmax(s, epsilon);
    for (std::size_t i = 0; i < n; ++i) {
        const double d = data[i] - surface[i];
        const double t = ((d - g) + (d - g)) / spread;
        if (t >= 0.0) {
            weights[i] = 1.0 - 1.0 / (std::exp(-t) + 1.0);
        } else {
            const double e = std::exp(t);
            weights[i] = 1.0 - e / (e + 1.0);
        }
    }
}

}  // namespace quorvel::two_d::whittaker
