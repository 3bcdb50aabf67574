// solve_system's plain form in lanes: per lane the operations of one spectrum's solve in its order, so that each
// lane ends with that spectrum's bits. Included only by the file that picks the pack.
#pragma once

#include <algorithm>
#include <cstddef>

#include "core/numeric.hpp"
#include "lane_irsqr.hpp"
#include "lane_lu.hpp"
#include "lane_mixture.hpp"
#include "lane_system.hpp"

namespace quorvel::pspline::lanes {

// B'WB and B'Wy, a run of samples that share their first column at a time: each entry then gathers that run's
// terms in a register, in the samples' order as the single solve adds them in memory. A zero weight adds zeros,
// which leave every sum as it was, so no sample is skipped.
template <class P, std::size_t Width>
void form(const LaneSpline& s) {
    constexpr std::size_t lanes = P::width, entries = Width * (Width + 1) / 2;
    const std::size_t m = s.basis->coefficients;
    std::fill_n(s.bands, (s.band + 1) * m * lanes, 0.0);
    std::fill_n(s.rhs, m * lanes, 0.0);
    const double* values = s.basis->values.data();
    const auto& first = s.basis->first;
    for (std::size_t i = 0; i < s.n;) {
        const std::size_t j = first[i];
        P rhs[Width], band[entries];
        for (std::size_t a = 0, e = 0; a < Width; ++a) {
            rhs[a] = P::load(s.rhs + (j + a) * lanes);
            for (std::size_t b = 0; b <= a; ++b, ++e) band[e] = P::load(s.bands + ((a - b) * m + j + b) * lanes);
        }
        for (; i < s.n && first[i] == j; ++i) {
            const P given = P::load(s.weights + i * lanes), y = P::load(s.y + i * lanes);
            const P w = s.squared_weights ? given * given : given;
            const double* v = values + i * Width;
            for (std::size_t a = 0, e = 0; a < Width; ++a) {
                const P wa = w * P::splat(v[a]);
                rhs[a] = rhs[a] + wa * y;
                for (std::size_t b = 0; b <= a; ++b, ++e) band[e] = band[e] + wa * P::splat(v[b]);
            }
        }
        for (std::size_t a = 0, e = 0; a < Width; ++a) {
            rhs[a].store(s.rhs + (j + a) * lanes);
            for (std::size_t b = 0; b <= a; ++b, ++e) band[e].store(s.bands + ((a - b) * m + j + b) * lanes);
        }
    }
    if (s.slope_bands) {
        for (std::size_t e = 0; e < (s.band + 1) * m; ++e) {
            if (e % m + e / m >= m) continue;  // past the end of its band
            double* at = s.bands + e * lanes;
            (P::load(at) + P::load(s.slope_bands + e * lanes)).store(at);
        }
        for (std::size_t k = 0; k < m; ++k) {
            double* at = s.rhs + k * lanes;
            (P::load(at) + P::load(s.slope_rhs + k * lanes)).store(at);
        }
    }
    if (s.coefficient_slope != 0.0) {
        const linalg::PenaltyRows first(m, 1, s.coefficient_slope);
        for (std::size_t i = 0; i < m; ++i) {
            (P::load(s.bands + i * lanes) + P::splat(first.at(i, 0))).store(s.bands + i * lanes);
            if (i > 0) {
                double* at = s.bands + (m + i - 1) * lanes;
                (P::load(at) + P::splat(first.at(i, 1))).store(at);
            }
        }
    }
    if (s.scaled) return;  // lu_solve adds the penalty row by row, scaled
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t k = 0; k <= std::min<std::size_t>(i, s.diff_order); ++k) {
            double* at = s.bands + ((k * m) + i - k) * lanes;
            (P::load(at) + P::splat(s.penalty->at(i, k))).store(at);
        }
    }
}

// SymmetricBandedWorkspace::factor and substitute, lane by lane.
template <class P>
typename P::Mask factor_and_substitute(const LaneSpline& s) {
    constexpr std::size_t lanes = P::width;
    const std::size_t m = s.basis->coefficients, band = s.band;
    const auto at = [&](std::size_t i, std::size_t k) { return s.bands + ((i - k) * m + k) * lanes; };
    const auto l = [&](std::size_t i, std::size_t k) { return P::load(at(i, k)); };
    const auto start = [&](std::size_t i) { return i > band ? i - band : 0; };
    typename P::Mask failed = P::splat(1.0) < P::splat(0.0);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t from = start(i);
        for (std::size_t k = from; k < i; ++k) {
            P t = l(i, k);
            for (std::size_t r = from; r < k; ++r) t = t - l(i, r) * l(k, r);
            (t / l(k, k)).store(at(i, k));
        }
        P d = l(i, i);
        for (std::size_t r = from; r < i; ++r) d = d - l(i, r) * l(i, r);
        failed = failed | (d <= P::splat(epsilon));
        sqrt(d).store(at(i, i));
    }
    for (std::size_t i = 0; i < m; ++i) {
        P sum = P::splat(0.0);
        for (std::size_t r = start(i); r < i; ++r) sum = sum + l(i, r) * P::load(s.intermediate + r * lanes);
        ((P::load(s.rhs + i * lanes) - sum) / l(i, i)).store(s.intermediate + i * lanes);
    }
    for (std::size_t i = m; i-- > 0;) {
        const std::size_t last = std::min(m - 1, i + band);
        P sum = P::splat(0.0);
        for (std::size_t r = i + 1; r <= last; ++r) sum = sum + l(r, i) * P::load(s.coefficients + r * lanes);
        ((P::load(s.intermediate + i * lanes) - sum) / l(i, i)).store(s.coefficients + i * lanes);
    }
    return failed;
}

template <class P, std::size_t Width>
void evaluate(const LaneSpline& s) {
    constexpr std::size_t lanes = P::width;
    const double* values = s.basis->values.data();
    for (std::size_t i = 0; i < s.n; ++i) {
        const double* v = values + i * Width;
        const double* c = s.coefficients + s.basis->first[i] * lanes;
        P sum = P::splat(0.0);
        for (std::size_t a = 0; a < Width; ++a) sum = sum + P::splat(v[a]) * P::load(c + a * lanes);
        sum.store(s.baselines + i * lanes);
    }
}

template <class P, std::size_t Width>
void solve_width(const LaneSpline& s, bool* failed) {
    form<P, Width>(s);
    store_mask(s.scaled ? lu_solve<P>(s) : factor_and_substitute<P>(s), failed);
    evaluate<P, Width>(s);
}

template <class P>
void solve(const LaneSpline& s, bool* failed) {
    static_assert(max_spline_degree == 5);
    switch (s.basis->degree) {
        case 0: return solve_width<P, 1>(s, failed);
        case 1: return solve_width<P, 2>(s, failed);
        case 2: return solve_width<P, 3>(s, failed);
        case 3: return solve_width<P, 4>(s, failed);
        case 4: return solve_width<P, 5>(s, failed);
        case 5: return solve_width<P, 6>(s, failed);
    }
}

template <class P>
void exps(double* values, std::size_t count) {
    for (std::size_t i = 0; i < count; i += P::width) simd::exp_nonpositive(P::load(values + i)).store(values + i);
}

template <class P>
SplineLaneKernels make_spline_kernels() {
    return {P::width, solve<P>, irsqr_reweight<P>, mixture_reweight<P>, exps<P>};
}

}  // namespace quorvel::pspline::lanes
