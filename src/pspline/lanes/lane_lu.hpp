// The scaled penalty's system in lanes: GeneralBandedWorkspace's LU with row exchanges, each lane choosing its own
// pivot rows, and per lane the operations of the single solve in its order (a row exchange a blend by the lane's
// pivot, a skipped update a blend keeping the old value). Included only by the file that picks the pack.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>

#include "lane_system.hpp"

namespace quorvel::pspline::lanes {

// The lanes' values at the basis functions' middles, as penalty scales.
template <class P>
void carry_to_middles(const LaneScaledPenalty& q, std::size_t m) {
    constexpr std::size_t lanes = P::width;
    for (std::size_t j = 0; j < m; ++j) {
        const MiddlePlan& p = q.plan[j];
        const P v0 = P::load(q.values + p.at * lanes), v1 = P::load(q.values + p.next * lanes);
        const P v = p.end ? v0 : (v1 - v0) / P::splat(p.x1 - p.x0) * P::splat(p.middle - p.x0) + v0;
        (q.relaxed ? P::splat(1.0) - P::splat(q.eta) * v : v).store(q.scale + j * lanes);
    }
}

// The system of half-width `band` as solve_system assembles it for LU, factored; the coefficients then solved.
template <class P>
typename P::Mask lu_solve(const LaneSpline& s) {
    constexpr std::size_t lanes = P::width;
    const LaneScaledPenalty& q = *s.scaled;
    const std::size_t m = s.basis->coefficients, band = s.band, rows = 3 * band + 1, kv = 2 * band;
    const auto at = [&](std::size_t r, std::size_t c) { return q.lu + ((kv + r - c) + c * rows) * lanes; };
    const auto load = [&](std::size_t r, std::size_t c) { return P::load(at(r, c)); };
    const auto scale = [&](std::size_t i) { return P::load(q.scale + i * lanes); };
    carry_to_middles<P>(q, m);
    std::fill_n(q.lu, rows * m * lanes, 0.0);
    for (std::size_t i = 0; i < m; ++i) {
        const auto entry = [&](std::size_t k) { return P::load(s.bands + (k * m + i - k) * lanes); };
        (entry(0) + scale(i) * P::splat(s.penalty->at(i, 0))).store(at(i, i));
        for (std::size_t k = 1; k <= std::min(band, i); ++k) {
            const P penalty = P::splat(s.penalty->at(i, k));
            (entry(k) + scale(i) * penalty).store(at(i, i - k));
            (entry(k) + scale(i - k) * penalty).store(at(i - k, i));
        }
    }
    const P zero = P::splat(0.0);
    typename P::Mask failed = zero < zero;
    for (std::size_t j = 0; j < m; ++j) {
        const std::size_t below = std::min(band, m - 1 - j), last = std::min(j + 2 * band, m - 1);
        P best = abs(load(j, j)), pivot_row = P::splat(static_cast<double>(j)), pivot = load(j, j);
        for (std::size_t r = j + 1; r <= j + below; ++r) {
            const P candidate = load(r, j);
            const auto larger = abs(candidate) > best;
            best = blend(larger, abs(candidate), best);
            pivot_row = blend(larger, P::splat(static_cast<double>(r)), pivot_row);
            pivot = blend(larger, candidate, pivot);
        }
        pivot_row.store(q.pivots + j * lanes);
        failed = failed | equal(pivot, zero) | !(abs(pivot) <= P::splat(std::numeric_limits<double>::max()));
        // Past a lane's reach of fill-in both rows hold zeros, so exchanging them there changes nothing.
        for (std::size_t c = j; c <= last; ++c) {
            P top = load(j, c);
            const P kept = top;
            for (std::size_t r = j + 1; r <= j + below; ++r) {
                const auto exchanged = equal(pivot_row, P::splat(static_cast<double>(r)));
                const P other = load(r, c);
                top = blend(exchanged, other, top);
                blend(exchanged, kept, other).store(at(r, c));
            }
            top.store(at(j, c));
        }
        for (std::size_t r = j + 1; r <= j + below; ++r) (load(r, j) / pivot).store(at(r, j));
        for (std::size_t c = j + 1; c <= last; ++c) {
            const P u = load(j, c);
            const auto skipped = equal(u, zero);
            for (std::size_t r = j + 1; r <= j + below; ++r) {
                const P old = load(r, c);
                blend(skipped, old, old - load(r, j) * u).store(at(r, c));
            }
        }
    }
    double* b = s.coefficients;
    std::copy_n(s.rhs, m * lanes, b);
    for (std::size_t j = 0; j < m; ++j) {
        const P pivot_row = P::load(q.pivots + j * lanes);
        const std::size_t last = std::min(j + band, m - 1);
        P top = P::load(b + j * lanes);
        const P kept = top;
        for (std::size_t r = j + 1; r <= last; ++r) {
            const auto exchanged = equal(pivot_row, P::splat(static_cast<double>(r)));
            const P other = P::load(b + r * lanes);
            top = blend(exchanged, other, top);
            blend(exchanged, kept, other).store(b + r * lanes);
        }
        top.store(b + j * lanes);
        for (std::size_t r = j + 1; r <= last; ++r) {
            (P::load(b + r * lanes) - load(r, j) * top).store(b + r * lanes);
        }
    }
    for (std::size_t j = m; j-- > 0;) {
        const P x = P::load(b + j * lanes) / load(j, j);
        x.store(b + j * lanes);
        for (std::size_t r = j > kv ? j - kv : 0; r < j; ++r) {
            (P::load(b + r * lanes) - load(r, j) * x).store(b + r * lanes);
        }
    }
    return failed;
}

}  // namespace quorvel::pspline::lanes
