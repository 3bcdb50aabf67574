// The mixture model's EM step in lanes: per lane the operations of MixtureEm::reweight in its order, a branch of
// it a blend of both outcomes and a skipped sample adding -0.0. Included only by the file that picks the pack.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>

#include "lane_irsqr.hpp"
#include "lane_system.hpp"
#include "simd/exp.hpp"

namespace quorvel::pspline::lanes {

template <class P>
void mixture_reweight(const LaneSpline& s, const LaneMixture& q) {
    constexpr std::size_t lanes = P::width;
    const P zero = P::splat(0.0), skip = P::splat(-0.0), one = P::splat(1.0);
    const auto used = [&](std::size_t i) { return q.keep ? P::load(q.keep + i * lanes) > zero : zero <= one; };
    const auto r_at = [&](std::size_t i) { return P::load(s.y + i * lanes) - P::load(s.baselines + i * lanes); };

    // spread_of: the extremes, then mean and deviation in units of a power of two near the larger.
    P highest = P::splat(-std::numeric_limits<double>::infinity()), lowest = -highest;
    for (std::size_t i = 0; i < s.n; ++i) {
        const P r = r_at(i);
        const auto u = used(i);
        highest = blend(u, larger(highest, r), highest);
        lowest = blend(u, blend(r < lowest, r, lowest), lowest);
    }
    const P reach = larger(abs(highest), abs(lowest));
    const auto spread = reach > zero;
    const P up = blend(spread, power_of_ilogb(reach, 1), one), down = blend(spread, one / up, one);
    highest = highest * down;
    lowest = lowest * down;
    P mean = zero, count = zero;
    for (std::size_t i = 0; i < s.n; ++i) {
        const auto u = used(i);
        mean = mean + blend(u, r_at(i) * down, skip);
        count = count + blend(u, one, skip);
    }
    mean = mean / count;
    P deviation = zero;
    for (std::size_t i = 0; i < s.n; ++i) {
        const P d = r_at(i) * down - mean;
        deviation = deviation + blend(used(i), d * d, skip);
    }
    deviation = sqrt(deviation / count);

    const auto first = P::load(q.first) > zero;
    const P sigma = blend(first, deviation * up / P::splat(5.0), P::load(q.sigma));
    const P start_peaks = P::splat(q.symmetric ? 0.25 : 0.5), start_below = P::splat(q.symmetric ? 0.25 : 0.0);
    const P noise_share = blend(first, P::splat(0.5), P::load(q.noise));
    const P above_share = blend(first, start_peaks, P::load(q.above));
    const P below_share = blend(first, start_below, P::load(q.below));
    const P scaled = sigma * down, per_deviation = one / scaled;
    const P above = blend(highest > zero, above_share / highest, zero);
    const P below = q.symmetric ? blend(lowest < zero, below_share / -lowest, zero) : zero;
    const P height = noise_share / (P::splat(std::numbers::sqrt2 * std::sqrt(std::numbers::pi)) * scaled);
    const P p = P::splat(q.p), not_p = P::splat(1.0 - q.p), minus_half = P::splat(-0.5);
    P distance2 = zero, norm2 = zero, noise = zero, spread_sum = zero, high = zero, low = zero;
    count = zero;
    for (std::size_t i = 0; i < s.n; ++i) {
        const auto u = used(i);
        const P r = r_at(i) * down;
        const auto positive = r > zero;
        const P stored = P::load(q.weights + i * lanes);
        const P old = blend(first, blend(positive, p, not_p), stored);
        const P peaks = blend(positive, above, blend(r < zero, below, zero));
        const auto mixed = peaks > zero;
        const P z = r * per_deviation;
        const P e = simd::exp_nonpositive(minus_half * z * z);
        const P g = blend(scaled > zero, height * e, zero);
        const P per_density = one / (g + peaks);
        const P w = blend(mixed, g * per_density, one);
        const P share = peaks * per_density;
        high = high + blend(u & mixed & positive, share, skip);
        low = low + blend(u & mixed & !positive, share, skip);
        const P change = w - old;
        distance2 = distance2 + blend(u, change * change, skip);
        norm2 = norm2 + blend(u, old * old, skip);
        noise = noise + blend(u, w, skip);
        spread_sum = spread_sum + blend(u, w * r * r, skip);
        count = count + blend(u, one, skip);
        blend(u, w, stored).store(q.weights + i * lanes);
    }
    (noise / count).store(q.noise);
    (high / count).store(q.above);
    (low / count).store(q.below);
    (sqrt(spread_sum / noise) * up).store(q.sigma);
    distance2.store(q.distance2);
    norm2.store(q.norm2);
}

}  // namespace quorvel::pspline::lanes
