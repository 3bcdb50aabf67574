// asPLS (Zhang et al., Spectrosc. Lett. 53 (2020) 222): solves (W + lambda A D'D) z = W y, where
// A = diag(|d| / max |d|) lets the baseline bend where the residuals are large, with the logistic
// weight 1 / (1 + exp(k (d - sigma) / sigma)) of the residuals below the baseline's spread sigma.
#pragma once

#include <span>
#include <vector>

#include "core/error.hpp"
#include "engine.hpp"
#include "negative_residuals.hpp"
#include "simd/exp.hpp"

namespace quorvel::whittaker {

struct AsPlsWeights {
    double asymmetric_coef;
    std::span<const double> alpha{};  // the first iteration's penalty scales, one per sample; empty: all 1
};

// Its parameters in their accepted ranges (rule_checks.cpp).
Status check_rule(const AsPlsWeights& rule);

// The running form: the rule and the penalty's row scales, which every iteration renews.
struct AsPlsRun {
    double asymmetric_coef;
    std::span<double> alpha;
    static constexpr bool reference_loop = true;
};

AsPlsRun start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace);

Status solve(const AsPlsRun& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params);

double update_masked(const AsPlsRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// A grid reweights its points in row-major order as one spectrum, its penalty scaled point by point;
// the grid solve divides each row of its system by the point's alpha, as AsPlsSystem does.
inline AsPlsWeights grid_form(const AsPlsWeights& rule) { return rule; }
AsPlsRun grid_start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, std::vector<double>& state);
inline std::span<const double> penalty_scale(const AsPlsRun& rule) { return rule.alpha; }

// 1 / (1 + e^x) for x = (r - sigma) coef / sigma, exponentiating only non-positive numbers; a loop divides out
// `steepness` = coef / sigma once.
template <class P>
[[gnu::always_inline]] inline P aspls_weight(const P& residual, const P& sigma, const P& steepness) {
    const P one = P::splat(1.0);
    const P x = (residual - sigma) * steepness;
    const P e = simd::exp_nonpositive(-abs(x));
    return blend(x >= P::splat(0.0), e, one) / (one + e);
}

namespace lanes {

// The penalty scales alpha in the block's state.
template <class P, bool Masked>
void update_lanes(const AsPlsWeights& rule, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const auto below = negative_statistics(rows);
    const P zero = P::splat(0.0), one = P::splat(1.0), sigma = below.deviation;
    const P steepness = P::splat(rule.asymmetric_coef) / sigma;
    P largest = zero;
    for (std::size_t i = 0; i < b.n; ++i) largest = max_num(largest, blend(rows.used(i), abs(rows.residual(i)), zero));
    const P reciprocal = one / largest;
    for (std::size_t i = 0; i < b.n; ++i) {
        double* at = b.state + i * P::width;
        const P scaled = abs(rows.residual(i)) * reciprocal;
        const P alpha = Masked ? blend(rows.used(i), scaled, one) : scaled;
        blend(below.too_few, P::load(at), alpha).store(at);
    }
    rewrite_unless(rows, below.too_few, [&](std::size_t i) __attribute__((always_inline)) {
        return rows.zero_if_masked(i, aspls_weight(rows.residual(i), sigma, steepness));
    }, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
