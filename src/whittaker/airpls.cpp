#include "airpls.hpp"

#include <algorithm>
#include <cmath>

#include "../numeric.hpp"
#include "../workspace.hpp"

namespace quorvel::whittaker {
namespace {

constexpr double weight_cap = 1e12;

// Pinning the ends keeps two positive weights in every system, so it stays solvable.
void pin_end_points(std::span<double> weights, Mask mask) {
    const std::size_t n = weights.size();
    std::size_t first = 0;
    while (first < n && is_masked_out(mask, first)) ++first;
    if (first == n) return;
    std::size_t last = n - 1;
    while (is_masked_out(mask, last)) --last;
    weights[first] = 1.0;
    weights[last] = 1.0;
}

}  // namespace

double update_masked(const AirPlsWeights&, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights,
                     std::span<const double> previous, std::size_t iteration, Mask mask) {
    const std::size_t len = std::min(y.size(), baseline.size());
    double negative_sum = -0.0;
    for (std::size_t i = 0; i < len; ++i) {
        const double d = y[i] - baseline[i];
        if (!is_masked_out(mask, i) && d < 0.0) negative_sum = negative_sum + std::fabs(d);
    }
    if (len == 0 || negative_sum <= epsilon) {
        set_uniform_weights(weights, mask);
        return relative_weight_change(previous, weights);
    }

    const double k = static_cast<double>(iteration + 1) / negative_sum;
    const std::size_t wlen = std::min(len, weights.size());
    for (std::size_t i = 0; i < wlen; ++i) {
        const double d = y[i] - baseline[i];
        if (!(d < 0.0) || is_masked_out(mask, i)) {
            weights[i] = 0.0;
        } else {
            weights[i] = std::fmin(std::exp(k * std::fabs(d)), weight_cap);
        }
    }
    pin_end_points(weights, mask);
    return relative_weight_change(previous, weights);
}

}  // namespace quorvel::whittaker
