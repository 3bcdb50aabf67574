// IRSQR's weights in lanes: per lane the operations of IrsqrWeights::reweight in its order; the powers of two it
// scales by come from each lane's own extremes. Included only by the file that picks the pack.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "lane_system.hpp"

namespace quorvel::pspline::lanes {

// std::max's choice, the first of two equal values.
template <class P>
P larger(const P& a, const P& b) {
    return blend(a < b, b, a);
}

// 2^e per lane for e = `sign` ilogb(reach).
template <class P>
P power_of_ilogb(const P& reach, int sign) {
    alignas(64) double v[P::width];
    reach.store(v);
    for (double& x : v) x = std::ldexp(1.0, sign * std::ilogb(x));
    return P::load(v);
}

template <class P>
void irsqr_reweight(const LaneSpline& s, const LaneIrsqr& q) {
    constexpr std::size_t lanes = P::width;
    const std::size_t m = s.basis->coefficients;
    P reach = P::splat(std::numeric_limits<double>::min());
    for (std::size_t j = 0; j < m; ++j) {
        reach = larger(larger(reach, abs(P::load(s.coefficients + j * lanes))), abs(P::load(q.previous + j * lanes)));
    }
    P down = power_of_ilogb(reach, -1), moved = P::splat(0.0), size = P::splat(0.0);
    for (std::size_t j = 0; j < m; ++j) {
        const P c = P::load(s.coefficients + j * lanes), previous = P::load(q.previous + j * lanes);
        const P step = (c - previous) * down, old = previous * down;
        moved = moved + step * step;
        size = size + old * old;
        c.store(q.previous + j * lanes);
    }
    moved.store(q.moved);
    size.store(q.size);

    const bool own = std::isnan(q.eps);
    const auto used = [&](std::size_t i) { return P::load(q.keep + i * lanes) > P::splat(0.0); };
    const auto r_at = [&](std::size_t i) { return P::load(s.y + i * lanes) - P::load(s.baselines + i * lanes); };
    P spread = P::splat(0.0);
    if (own) {
        for (std::size_t i = 0; i < s.n; ++i) {
            const P next = larger(spread, abs(P::load(s.baselines + i * lanes)));
            spread = q.keep ? blend(used(i), next, spread) : next;
        }
        spread = larger(P::splat(1e-6) * spread, P::splat(std::ldexp(1.0, -511)));
    }
    reach = own ? spread : P::splat(std::sqrt(q.eps));
    for (std::size_t i = 0; i < s.n; ++i) {
        const P next = larger(reach, abs(r_at(i)));
        reach = q.keep ? blend(used(i), next, reach) : next;
    }
    down = power_of_ilogb(reach, -1);
    const P up = power_of_ilogb(reach, 1);
    const P scaled_spread = spread * down, eps_down = P::splat(q.eps) * down;
    const P eps = larger(own ? scaled_spread * scaled_spread : eps_down * down,
                         P::splat(std::numeric_limits<double>::min()));
    const P above = P::splat(q.quantile), below = P::splat(1.0 - q.quantile), zero = P::splat(0.0);
    for (std::size_t i = 0; i < s.n; ++i) {
        const P r = r_at(i), scaled = r * down;
        const P w = blend(r > zero, above, below) / (up * sqrt(scaled * scaled + eps));
        (q.keep ? blend(used(i), w, zero) : w).store(q.weights + i * lanes);
    }
}

}  // namespace quorvel::pspline::lanes
