#include "brpls.hpp"

#include <cmath>
#include <limits>
#include <numbers>

#include "sample_kernels.hpp"

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
    const BrPlsPosterior posterior{sigma, sigma / mu, prior};
    const auto kernels = sample_kernels();
    return rewrite_in_chunks(weights, mask, [&](std::size_t from, std::span<double> chunk) {
        const std::size_t packed = in_packs(kernels, chunk.size());
        if (packed) kernels->brpls_weights(y.data() + from, baseline.data() + from, chunk.data(), packed, posterior);
        using One = simd::ScalarPack<1>;
        for (std::size_t j = packed; j < chunk.size(); ++j) {
            chunk[j] = brpls_weight(One::splat(y[from + j] - baseline[from + j]), posterior).v[0];
        }
    });
}

Result<FitReport> fit_controlled(std::span<const double> y, const WhittakerParams& params, const BrPlsWeights& rule,
                                 std::span<double> baseline, WhittakerWorkspace& workspace,
                                 const FitControls& controls) {
    if (auto valid = validate_fit(y, params, baseline.size()); !valid) return valid.error();
    if (auto valid = validate_mask(y.size(), controls.mask, params.diff_order); !valid) return valid.error();
    if (auto valid = check_rule(rule); !valid) return valid.error();
    if (auto ready = prepare_uneven(workspace.uneven, params.x, y.size(), params.diff_order, params.lambda); !ready) {
        return ready.error();
    }
    workspace.iter.resize(y.size());
    const BrPlsLoops loops{params.max_iter, params.tol, controls.history, controls.outer};
    return brpls_loops(y, controls.mask, rule, loops, workspace.iter.weights, baseline, workspace.state,
                       [&](std::span<const double> weights, std::span<double> z) {
                           return solve_weighted(y, weights, z, workspace, params.lambda, params.diff_order);
                       });
}

}  // namespace quorvel::whittaker
