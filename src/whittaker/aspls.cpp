#include "aspls.hpp"

#include <algorithm>
#include <cmath>

#include "negative_residuals.hpp"
#include "sample_kernels.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::whittaker {
using One = simd::ScalarPack<1>;

// A masked-out sample keeps the full penalty from the start, as it does in every later iteration.
AsPlsRun grid_start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, std::vector<double>& state) {
    state.assign(y.size(), 1.0);
    for (std::size_t i = 0; i < rule.alpha.size(); ++i) {
        if (!is_masked_out(mask, i)) state[i] = rule.alpha[i];
    }
    return {rule.asymmetric_coef, state};
}

AsPlsRun start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    set_uniform_weights(workspace.iter.weights, mask);
    return grid_start(rule, y, mask, workspace.state);
}

Status solve(const AsPlsRun& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params) {
    return with_penalty(workspace, y.size(), params.diff_order, params.lambda, [&](const auto& penalty) {
        using Penalty = std::remove_cvref_t<decltype(penalty)>;
        const AsPlsSystem<One, Penalty> system{y.data(), workspace.iter.weights.data(), rule.alpha.data(), penalty};
        return solve_band(params.diff_order, y.size(), system, baseline, workspace.band);
    });
}

// A masked-out sample keeps the full penalty: it has no residual to relax it.
double update_masked(const AsPlsRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    const NegativeResiduals below = negative_residuals(y, baseline, mask);
    if (too_few(below)) return exhausted;
    double largest = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) largest = std::max(largest, std::fabs(y[i] - baseline[i]));
    }
    // A product, not a quotient, per sample: the lanes form alpha the same way.
    const double reciprocal = 1.0 / largest;
    for (std::size_t i = 0; i < y.size(); ++i) {
        rule.alpha[i] = is_masked_out(mask, i) ? 1.0 : std::fabs(y[i] - baseline[i]) * reciprocal;
    }
    const double coef = rule.asymmetric_coef, sigma = below.deviation;
    const auto kernels = sample_kernels();
    return rewrite_in_chunks(weights, mask, [&](std::size_t from, std::span<double> chunk) {
        const std::size_t packed = in_packs(kernels, chunk.size());
        if (packed) kernels->aspls_weights(y.data() + from, baseline.data() + from, chunk.data(), packed, coef, sigma);
        for (std::size_t j = packed; j < chunk.size(); ++j) {
            const One residual = One::splat(y[from + j] - baseline[from + j]);
            chunk[j] = aspls_weight(residual, One::splat(sigma), One::splat(coef / sigma)).v[0];
        }
    });
}

}  // namespace quorvel::whittaker
