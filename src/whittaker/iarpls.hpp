// IarPLS (Ye et al., Appl. Optics 59 (2020) 10933): arPLS with a weight that falls as
// 1/2 (1 - s / sqrt(1 + s^2)), s = e^t (d - 2 sigma) / sigma, steeper with every iteration t.
#pragma once

#include "negative_residuals.hpp"
#include "reweighter.hpp"

namespace quorvel::whittaker {

struct IarPlsWeights {
    static constexpr bool reference_loop = true;
};

double update_masked(const IarPlsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// A grid reweights its points in row-major order as one spectrum.
inline IarPlsWeights grid_form(const IarPlsWeights& rule) { return rule; }

namespace lanes {

template <class P, bool Masked>
void update_lanes(const IarPlsWeights&, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const auto below = negative_statistics(rows);
    const P zero = P::splat(0.0), half = P::splat(0.5), one = P::splat(1.0);
    const P growth = P::load(b.growth) / below.deviation;
    const P two_sigma = P::splat(2.0) * below.deviation;
    rewrite_unless(rows, below.too_few, [&](std::size_t i) __attribute__((always_inline)) {
        const P shifted = rows.residual(i) - two_sigma;
        const P s = shifted * growth, a = abs(s);
        const P h = blend(a < P::splat(0x1p500), sqrt(one + s * s), a), tail = half / (h * (h + a));
        const P w = blend(equal(shifted, zero), half, blend(s > zero, tail, one - tail));
        return rows.zero_if_masked(i, w);
    }, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
