// psalsa (Oller-Moreno et al., IEEE SSD 2014): AsLS whose weight above the baseline decays with the
// height of the residual, p exp(-d / k), so that a large p still ignores peaks.
#pragma once

#include <cmath>
#include <vector>

#include "core/deviation.hpp"
#include "core/error.hpp"
#include "reweighter.hpp"
#include "simd/exp.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct PsalsaWeights {
    double p;
    double k;  // NaN: a tenth of the standard deviation of the used data
    static constexpr bool reference_loop = true;
};

// Its parameters in their accepted ranges (rule_checks.cpp).
Status check_rule(const PsalsaWeights& rule);

// Weight 1 at every used sample, and k resolved from the data when it was not given.
PsalsaWeights start(const PsalsaWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace);

// A grid reweights its points in row-major order as one spectrum, k from all its used points.
inline PsalsaWeights grid_form(const PsalsaWeights& rule) { return rule; }
PsalsaWeights grid_start(const PsalsaWeights& rule, std::span<const double> y, Mask mask, std::vector<double>& state);

// p e^(-d / k) above the baseline, 1 - p (`below`) elsewhere, for `decay` = -1 / k, which a loop divides out
// once; the exponent is never positive.
template <class P>
[[gnu::always_inline]] inline P psalsa_weight(const P& d, const P& p, const P& below, const P& decay) {
    const P zero = P::splat(0.0);
    const auto above = d > zero;
    return blend(above, p * simd::exp_nonpositive(blend(above, d * decay, zero)), below);
}

double update_masked(const PsalsaWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

namespace lanes {

// k per lane, as each spectrum resolved it.
template <class P, bool Masked>
void update_lanes(const PsalsaWeights& rule, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const P p = P::splat(rule.p), below = P::splat(1.0 - rule.p);
    const P decay = P::splat(-1.0) / P::load(b.k);
    rows.rewrite([&](std::size_t i) __attribute__((always_inline)) {
        return rows.zero_if_masked(i, psalsa_weight(rows.residual(i), p, below, decay));
    }, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
