#include "airpls.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "core/numeric.hpp"
#include "engine.hpp"

namespace quorvel::whittaker {
namespace {

// The first and last valid samples; pinning them to 1 keeps two positive weights in every
// system, so it stays solvable.
std::optional<std::pair<std::size_t, std::size_t>> end_points(std::size_t n, Mask mask) {
    std::size_t first = 0;
    while (first < n && is_masked_out(mask, first)) ++first;
    if (first == n) return std::nullopt;
    std::size_t last = n - 1;
    while (is_masked_out(mask, last)) --last;
    return std::pair{first, last};
}

}  // namespace

double update_masked(const AirPlsWeights&, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask) {
    const std::size_t len = std::min(y.size(), baseline.size());
    double negative_sum = -0.0;
    for (std::size_t i = 0; i < len; ++i) {
        const double d = y[i] - baseline[i];
        if (!is_masked_out(mask, i) && d < 0.0) negative_sum = negative_sum + std::fabs(d);
    }
    if (len == 0 || negative_sum <= epsilon) return set_uniform_weights(weights, mask);

    const double k = static_cast<double>(iteration + 1) / negative_sum;
    const auto pinned = end_points(weights.size(), mask);
    return rewrite_weights(weights, [&](std::size_t i) {
        if (pinned && (i == pinned->first || i == pinned->second)) return 1.0;
        if (i >= len) return weights[i];
        const double d = y[i] - baseline[i];
        if (!(d < 0.0) || is_masked_out(mask, i)) return 0.0;
        return std::fmin(std::exp(k * std::fabs(d)), airpls_weight_cap);
    });
}

AirPlsShare grid_start(const AirPlsShare&, std::span<const double> y, Mask mask, std::vector<double>&) {
    return {residual_scale(y, mask)};
}

double update_masked(const AirPlsShare& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask) {
    std::size_t below = 0;
    double negative_sum = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double d = y[i] - baseline[i];
        if (!is_masked_out(mask, i) && d < 0.0) negative_sum = negative_sum - d, ++below;
    }
    if (below < 2) return exhausted;
    const double k = static_cast<double>(iteration + 1) / negative_sum;
    rewrite_weights(weights, [&](std::size_t i) {
        const double d = y[i] - baseline[i];
        if (!(d < 0.0) || is_masked_out(mask, i)) return 0.0;
        return std::fmin(std::exp(k * -d), airpls_weight_cap);
    });
    return negative_sum / rule.scale;
}

}  // namespace quorvel::whittaker
