#include "aspls.hpp"

#include <algorithm>
#include <cmath>

#include "negative_residuals.hpp"
#include "simd/exp.hpp"

namespace quorvel::whittaker {
namespace {

// 1 / (1 + e^x), exponentiating only non-positive numbers.
double logistic_of_minus(double x) {
    const double e = simd::exp_nonpositive(-std::fabs(x));
    return pick(x >= 0.0, e, 1.0) / (1.0 + e);
}

}  // namespace

AsPlsRun grid_start(const AsPlsWeights& rule, std::span<const double> y, Mask, std::vector<double>& state) {
    state.assign(y.size(), 1.0);
    return {rule.asymmetric_coef, state};
}

AsPlsRun start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    set_uniform_weights(workspace.iter.weights, mask);
    return grid_start(rule, y, mask, workspace.state);
}

Status solve(const AsPlsRun& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const linalg::PenaltyRows penalty(y.size(), params.diff_order, params.lambda);
    const AsPlsSystem<simd::ScalarPack<1>> system{y.data(), workspace.iter.weights.data(), rule.alpha.data(), penalty};
    return solve_band(params.diff_order, y.size(), system, baseline, workspace.band);
}

// A masked-out sample keeps the full penalty: it has no residual to relax it.
double update_masked(const AsPlsRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    const NegativeResiduals below = negative_residuals(y, baseline, mask);
    if (too_few(below)) return exhausted;
    const double sigma = below.deviation;
    double largest = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) largest = std::max(largest, std::fabs(y[i] - baseline[i]));
    }
    for (std::size_t i = 0; i < y.size(); ++i) {
        rule.alpha[i] = is_masked_out(mask, i) ? 1.0 : std::fabs(y[i] - baseline[i]) / largest;
    }
    return rewrite_weights(weights, [&](std::size_t i) {
        if (is_masked_out(mask, i)) return 0.0;
        return logistic_of_minus(rule.asymmetric_coef * (y[i] - baseline[i] - sigma) / sigma);
    });
}

}  // namespace quorvel::whittaker
