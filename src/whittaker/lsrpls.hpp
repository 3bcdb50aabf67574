// LSRPLS (Heng et al., Chinese J. Lasers 45 (2018) 1211001): the locally symmetric arPLS, whose weight
// 1/2 (1 - s / (1 + |s|)), s = 10^t (d - (2 sigma - mean)) / sigma, steepens tenfold every iteration t.
#pragma once

#include <cmath>

#include "negative_residuals.hpp"
#include "reweighter.hpp"

namespace quorvel::whittaker {

struct LsrPlsWeights {
    static constexpr bool reference_loop = true;
};

double update_masked(const LsrPlsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// A grid reweights its points in row-major order as one spectrum.
inline LsrPlsWeights grid_form(const LsrPlsWeights& rule) { return rule; }

// 1/2 (1 - s / (1 + |s|)) for s = shifted * growth (growth = e^t / sigma or 10^t / sigma, which may be
// infinite), in the form that loses no small weight to cancellation and never forms 0 * inf.
inline double half_soft_sign_weight(double shifted, double growth) {
    if (shifted == 0.0) return 0.5;
    const double s = shifted * growth;
    // 1 - s is 1 + |s| to the bit where s <= 0.
    const double tail = 0.5 / (1.0 + std::fabs(s));
    return pick(s > 0.0, tail, 1.0 - tail);
}

namespace lanes {

template <class P>
[[gnu::always_inline]] inline P half_soft_sign_weight(const P& shifted, const P& growth) {
    const P zero = P::splat(0.0), half = P::splat(0.5), one = P::splat(1.0);
    const P s = shifted * growth;
    return blend(equal(shifted, zero), half, blend(s > zero, half / (one + s), one - half / (one - s)));
}

template <class P, bool Masked>
void update_lanes(const LsrPlsWeights&, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const auto below = negative_statistics(rows);
    const P growth = P::load(b.growth) / below.deviation;
    const P shift = P::splat(2.0) * below.deviation - below.mean;
    rewrite_unless(rows, below.too_few, [&](std::size_t i) __attribute__((always_inline)) {
        return rows.zero_if_masked(i, half_soft_sign_weight(rows.residual(i) - shift, growth));
    }, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
