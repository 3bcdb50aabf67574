#include "aspls.hpp"

#include <algorithm>
#include <cmath>

#include "negative_residuals.hpp"
#include "sample_kernels.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::whittaker {
namespace {

using One = simd::ScalarPack<1>;

// The new weights of every sample, in packs where the CPU has them and one by one after.
void aspls_weights(double coef, double sigma, std::span<const double> y, std::span<const double> z,
                   std::span<double> out) {
    std::size_t done = 0;
    if (const auto kernels = sample_kernels()) {
        done = y.size() / kernels->width * kernels->width;
        kernels->aspls_weights(y.data(), z.data(), out.data(), done, coef, sigma);
    }
    for (std::size_t i = done; i < y.size(); ++i) {
        out[i] = aspls_weight(One::splat(y[i] - z[i]), One::splat(coef), One::splat(sigma)).v[0];
    }
}

}  // namespace

AsPlsRun grid_start(const AsPlsWeights& rule, std::span<const double> y, Mask, std::vector<double>& state) {
    state.assign(2 * y.size(), 1.0);
    const std::span<double> both(state);
    return {rule.asymmetric_coef, both.first(y.size()), both.subspan(y.size())};
}

AsPlsRun start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    set_uniform_weights(workspace.iter.weights, mask);
    return grid_start(rule, y, mask, workspace.state);
}

Status solve(const AsPlsRun& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const linalg::PenaltyRows penalty(y.size(), params.diff_order, params.lambda);
    const AsPlsSystem<One> system{y.data(), workspace.iter.weights.data(), rule.alpha.data(), penalty};
    return solve_band(params.diff_order, y.size(), system, baseline, workspace.band);
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
    for (std::size_t i = 0; i < y.size(); ++i) {
        rule.alpha[i] = is_masked_out(mask, i) ? 1.0 : std::fabs(y[i] - baseline[i]) / largest;
    }
    aspls_weights(rule.asymmetric_coef, below.deviation, y, baseline, rule.fresh);
    return rewrite_weights(weights, [&](std::size_t i) { return is_masked_out(mask, i) ? 0.0 : rule.fresh[i]; });
}

}  // namespace quorvel::whittaker
