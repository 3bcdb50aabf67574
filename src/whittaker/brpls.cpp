#include "brpls.hpp"

#include <cmath>
#include <limits>
#include <numbers>

namespace quorvel::whittaker {

double baseline_change(std::span<const double> z, std::span<const double> previous, Mask mask) {
    double diff = 0.0, norm = 0.0;
    for (std::size_t i = 0; i < z.size(); ++i) {
        if (is_masked_out(mask, i)) continue;
        diff = diff + (z[i] - previous[i]) * (z[i] - previous[i]);
        norm = norm + previous[i] * previous[i];
    }
    if (norm == 0.0) return diff == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
    return std::sqrt(diff) / std::sqrt(norm);
}

double used_mean(std::span<const double> values, Mask mask) {
    double sum = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!is_masked_out(mask, i)) sum = sum + values[i];
    }
    return sum / static_cast<double>(used_count(values.size(), mask));
}

double scaled_erfc(double x) {
    if (x < 4.0) return std::exp(x * x) * std::erfc(x);
    // Laplace's continued fraction, which has converged to the last bit by 40 terms from x = 4 on.
    double f = x;
    for (int k = 40; k > 0; --k) f = x + (k / 2.0) / f;
    return 1.0 / (std::sqrt(std::numbers::pi) * f);
}

double update_masked(double beta, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, Mask mask) {
    std::size_t below = 0, above = 0;
    double squares = 0.0, heights = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double d = y[i] - baseline[i];
        if (is_masked_out(mask, i)) continue;
        if (d < 0.0) squares = squares + d * d, ++below;
        if (d > 0.0) heights = heights + d, ++above;
    }
    if (below < 2 || above == 0) return exhausted;
    const double sigma = std::sqrt(squares / static_cast<double>(below));  // the noise, from below the baseline
    const double mu = heights / static_cast<double>(above);                // the mean peak height
    const double prior = beta / (1.0 - beta) * std::sqrt(std::numbers::pi / 2.0) * (sigma / mu);
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        const double a = ((y[i] - baseline[i]) / sigma - sigma / mu) / std::numbers::sqrt2;
        return 1.0 / (1.0 + prior * scaled_erfc(-a));
    });
}

Result<FitReport> fit_controlled(std::span<const double> y, const WhittakerParams& params, const BrPlsWeights& rule,
                                 std::span<double> baseline, WhittakerWorkspace& workspace,
                                 const FitControls& controls) {
    if (auto valid = validate_fit(y, params, baseline.size()); !valid) return valid.error();
    if (auto valid = validate_mask(y.size(), controls.mask, params.diff_order); !valid) return valid.error();
    if (auto valid = check_rule(rule); !valid) return valid.error();
    workspace.iter.resize(y.size());
    const BrPlsLoops loops{params.max_iter, params.tol, controls.history, controls.outer};
    return brpls_loops(y, controls.mask, rule, loops, workspace.iter.weights, baseline, workspace.state,
                       [&](std::span<const double> weights, std::span<double> z) {
                           return solve_weighted(y, weights, z, workspace, params.lambda, params.diff_order);
                       });
}

}  // namespace quorvel::whittaker
