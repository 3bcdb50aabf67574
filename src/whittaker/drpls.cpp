#include "drpls.hpp"

#include <algorithm>
#include <cmath>

#include "lsrpls.hpp"
#include "negative_residuals.hpp"

namespace quorvel::whittaker {

namespace {

using One = simd::ScalarPack<1>;

template <class Penalty>
DrPlsSystem<One, Penalty> system_of(const DrPlsWeights& rule, std::span<const double> y,
                                    const WhittakerWorkspace& workspace, const Penalty& first, const Penalty& penalty) {
    return {y.data(), workspace.iter.weights.data(), rule.eta, first, penalty};
}

}  // namespace

Status solve(const DrPlsWeights& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const bool solved = with_penalties(workspace, y.size(), params.diff_order, params.lambda,
                                       [&](const auto& penalty, const auto& first) {
                                           const auto system = system_of(rule, y, workspace, first, penalty);
                                           return solve_band_ldu(params.diff_order, y.size(), system, baseline,
                                                                 workspace.band);
                                       });
    if (solved) return ok;
    return solve_exchanging(rule, y, baseline, workspace, params);
}

// The entries of the same system, in a store that leaves room for the row exchanges.
Status solve_exchanging(const DrPlsWeights& rule, std::span<const double> y, std::span<double> baseline,
                        WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const std::size_t n = y.size(), width = params.diff_order;
    auto& lu = workspace.general;
    lu.reset(n, width, width);
    with_penalties(workspace, n, params.diff_order, params.lambda, [&](const auto& penalty, const auto& first) {
        const auto system = system_of(rule, y, workspace, first, penalty);
        for (std::size_t i = 0; i < n; ++i) {
            lu.at(i, i) = system.lower(i, 0).v[0];
            for (std::size_t k = 1; k <= std::min(width, i); ++k) {
                lu.at(i, i - k) = system.lower(i, k).v[0];
                lu.at(i - k, i) = system.upper(i, k).v[0];
            }
            baseline[i] = system.rhs(i).v[0];
        }
        return true;
    });
    if (auto factored = lu.factor(); !factored) return factored;
    lu.substitute(baseline);
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
