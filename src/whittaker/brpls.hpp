// BrPLS (Wang et al., Nucl. Sci. Tech. 33 (2022), doi 10.1007/s41365-022-01132-9): each sample's weight is
// the posterior probability that it is baseline plus Gaussian noise rather than an exponentially
// distributed peak, given the prior share beta of the data that peaks take. An inner loop reweights
// until the baseline settles; an outer loop sets beta to the share the weights give, 1 - mean(w).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "engine.hpp"
#include "simd/erfcx.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct BrPlsWeights {
    std::uint64_t max_iter_2;  // the most updates of beta
    double tol_2;              // stop once beta changes by less than this
};

// Its parameters in their accepted ranges (rule_checks.cpp).
Status check_rule(const BrPlsWeights& rule);

// The inner loops run at most max_iter + 1 solves each and stop once the baseline's relative change is
// below tol; the report counts every solve that reweighted, and `controls.outer` receives the number of
// outer iterations. The history holds the baseline changes of every inner iteration.
Result<FitReport> fit_controlled(std::span<const double> y, const WhittakerParams& params, const BrPlsWeights& rule,
                                 std::span<double> baseline, WhittakerWorkspace& workspace,
                                 const FitControls& controls);

// The posterior weights for the prior share beta, or `exhausted` (weights untouched) when fewer than
// two residuals lie below the baseline or none above it.
double update_masked(double beta, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, Mask mask);

// The posterior's constants: the noise sigma, sigma / (the mean peak height), and the prior odds of a
// peak times sqrt(pi / 2) sigma / mu.
struct BrPlsPosterior {
    double sigma, ratio, prior;
};

// a = (r / sigma - ratio) / sqrt(2) as r scale - shift: the divisions once per posterior, not per sample.
template <class P>
struct BrPlsScales {
    P scale, shift;
};
template <class P>
[[gnu::always_inline]] inline BrPlsScales<P> brpls_scales(const P& sigma, const P& ratio) {
    const P root2 = P::splat(std::numbers::sqrt2);
    return {P::splat(1.0) / (sigma * root2), ratio / root2};
}

// 1 / (1 + prior erfcx(t)), t = -a: the posterior probability that the residual r is noise. With erfcx(|t|) = n / d,
// erfcx(t) is n / d for t >= 0 and 2 / E - n / d below (E = e^(-t^2)), so the weight is d / (d + prior n) or
// d E / (d E + prior (2 d - n E)): two divisions fewer than through erfcx itself, and a weight that reaches 0
// where E underflows instead of overflowing on the way.
template <class P>
[[gnu::always_inline]] inline P brpls_weight(const P& residual, const BrPlsScales<P>& s, const P& prior) {
    const P t = s.shift - residual * s.scale;
    const auto [n, d] = simd::erfcx_of_magnitude(abs(t));
    const P e = simd::exp_nonpositive(-(t * t));
    const auto peak = t < P::splat(0.0);
    const P noise = blend(peak, d * e, d);
    return noise / (noise + prior * blend(peak, P::splat(2.0) * d - n * e, n));
}

template <class P>
[[gnu::always_inline]] inline P brpls_weight(const P& residual, const BrPlsPosterior& posterior) {
    return brpls_weight(residual, brpls_scales(P::splat(posterior.sigma), P::splat(posterior.ratio)),
                        P::splat(posterior.prior));
}

// ||z - previous|| / ||previous|| over the used samples, with no floor that would tie it to the data's scale.
double baseline_change(std::span<const double> z, std::span<const double> previous, Mask mask);
double used_mean(std::span<const double> values, Mask mask);

namespace lanes {

// The sums of used_mean come with the weights, each lane's in index order from +0.0, skipped samples adding -0.0.
template <class P, bool Masked>
void update_brpls(const LaneBlock& b, LanePosterior posterior, LaneChange out, double* weight_sums) {
    const Rows<P, Masked> rows{b};
    const auto scales = brpls_scales(P::load(posterior.sigma), P::load(posterior.ratio));
    const P prior = P::load(posterior.prior);
    P sum = P::splat(0.0);
    rows.rewrite([&](std::size_t i) __attribute__((always_inline)) {
        const P w = rows.zero_if_masked(i, brpls_weight(rows.residual(i), scales, prior));
        sum = sum + (Masked ? blend(rows.used(i), w, P::splat(-0.0)) : w);
        return w;
    }, out);
    sum.store(weight_sums);
}

// The sums of update_masked, each lane's in index order from +0.0, skipped samples adding -0.0.
template <class P, bool Masked>
void brpls_sums(const LaneBlock& b, LaneBrPlsSums out) {
    const Rows<P, Masked> rows{b};
    const P zero = P::splat(0.0), one = P::splat(1.0), skip = P::splat(-0.0);
    P squares = zero, heights = zero, below = zero, above = zero;
    for (std::size_t i = 0; i < b.n; ++i) {
        const P d = rows.residual(i);
        const auto under = rows.collected(i, d), over = Masked ? rows.used(i) & (d > zero) : d > zero;
        squares = squares + blend(under, d * d, skip);
        heights = heights + blend(over, d, skip);
        below = below + blend(under, one, zero);
        above = above + blend(over, one, zero);
    }
    squares.store(out.squares), heights.store(out.heights), below.store(out.below), above.store(out.above);
}

// The sums of baseline_change against the previous baseline in the block's state.
template <class P, bool Masked>
void baseline_change(const LaneBlock& b, LaneBaselineChange out) {
    const Rows<P, Masked> rows{b};
    const P skip = P::splat(-0.0);
    P diff = P::splat(0.0), norm = P::splat(0.0);
    for (std::size_t i = 0; i < b.n; ++i) {
        const P z = P::load(b.factor.t + i * P::width), previous = P::load(b.state + i * P::width), step = z - previous;
        diff = diff + (Masked ? blend(rows.used(i), step * step, skip) : step * step);
        norm = norm + (Masked ? blend(rows.used(i), previous * previous, skip) : previous * previous);
    }
    diff.store(out.diff_sq), norm.store(out.norm_sq);
}

}  // namespace lanes

// What the two loops need beyond the rule and the data.
struct BrPlsLoops {
    std::uint64_t max_iter;
    double tol;
    std::vector<double>* history;
    std::uint64_t* outer;
};

// The two loops over any penalised solve: solve(weights, baseline) fits the baseline to y under the weights.
// Spectra and grids alike; `previous` holds the last baseline between iterations.
template <class Solve>
Result<FitReport> brpls_loops(std::span<const double> y, Mask mask, const BrPlsWeights& rule, const BrPlsLoops& loops,
                              std::span<double> weights, std::span<double> baseline, std::vector<double>& previous,
                              Solve solve) {
    set_uniform_weights(weights, mask);
    previous.assign(y.begin(), y.end());
    if (loops.history) loops.history->clear();

    const auto capped = [](std::uint64_t most) { return most + (most < UINT64_MAX ? 1 : 0); };
    double beta = 0.5, change = 0.0;
    std::uint64_t fits = 0, outer = 0;
    bool settled = false;
    const auto finish = [&](bool converged) {
        if (loops.outer) *loops.outer = outer;
        return FitReport{fits, change, converged};
    };
    for (outer = 1; outer <= capped(rule.max_iter_2); ++outer) {
        for (std::uint64_t k = 1; k <= capped(loops.max_iter); ++k) {
            if (auto solved = solve(std::span<const double>(weights), baseline); !solved) return solved.error();
            if (std::isnan(update_masked(beta, y, baseline, weights, mask))) return finish(false);
            ++fits;
            change = baseline_change(baseline, previous, mask);
            if (loops.history) loops.history->push_back(change);
            settled = change < loops.tol;
            if (settled) break;
            std::copy(baseline.begin(), baseline.end(), previous.begin());
        }
        const double next = 1.0 - used_mean(weights, mask);
        if (std::fabs(next - beta) < rule.tol_2) return finish(settled);
        beta = next;
    }
    outer = capped(rule.max_iter_2);
    return finish(false);
}

}  // namespace quorvel::whittaker
