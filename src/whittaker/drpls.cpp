#include "drpls.hpp"

#include <algorithm>
#include <cmath>

#include "lsrpls.hpp"
#include "negative_residuals.hpp"

namespace quorvel::whittaker {

Status solve(const DrPlsWeights& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const linalg::PenaltyRows first(y.size(), 1, 1.0), penalty(y.size(), params.diff_order, params.lambda);
    const DrPlsSystem<simd::ScalarPack<1>> system{y.data(), workspace.iter.weights.data(), rule.eta, first, penalty};
    if (solve_band_ldu(params.diff_order, y.size(), system, baseline, workspace.band)) return ok;
    return solve_exchanging(rule, y, baseline, workspace, params);
}

Status solve_exchanging(const DrPlsWeights& rule, std::span<const double> y, std::span<double> baseline,
                        WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const std::size_t n = y.size();
    const auto& weights = workspace.iter.weights;
    auto& scale = workspace.state;
    scale.resize(n);
    for (std::size_t i = 0; i < n; ++i) scale[i] = 1.0 - rule.eta * weights[i];
    fill_row_scaled(workspace.general, weights, {Penalty{1, 1.0}}, Penalty{params.diff_order, params.lambda}, scale);
    if (auto factored = workspace.general.factor(); !factored) return factored;
    for (std::size_t i = 0; i < n; ++i) baseline[i] = weights[i] * y[i];
    workspace.general.substitute(baseline);
    return ok;
}

double update_masked(const DrPlsWeights&, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask) {
    const NegativeResiduals below = negative_residuals(y, baseline, mask);
    if (too_few(below)) return exhausted;
    const double growth = std::exp(static_cast<double>(iteration + 1)) / below.deviation;
    const double shift = 2.0 * below.deviation - below.mean;
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        return half_soft_sign_weight(y[i] - baseline[i] - shift, growth);
    });
}

}  // namespace quorvel::whittaker
