// derpsalsa (Korepanov, J. Raman Spectrosc. 51 (2020) 2061): psalsa with a Gaussian decay above the
// baseline, p exp(-(d / k)^2 / 2), times a screen that is small where the smoothed data's first or
// second derivative is large, so that the slopes of peaks count as peaks from the start.
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "reweighter.hpp"
#include "simd/exp.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct DerPsalsaWeights {
    double p;
    double k;                          // NaN: a tenth of the standard deviation of the used data
    std::uint64_t smooth_half_window;  // 0: the length / 200
    std::uint64_t num_smooths;
};

// Its parameters in their accepted ranges (rule_checks.cpp).
Status check_rule(const DerPsalsaWeights& rule);

struct DerPsalsaRun {
    double p, k;
    std::span<const double> screen;
    static constexpr bool reference_loop = true;
};

DerPsalsaRun start(const DerPsalsaWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace);

double update_masked(const DerPsalsaRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// exp(-(d1^2 / mean d1^2 + d2^2 / mean d2^2) / 2) of the derivatives d1, d2 of `smooth`, into `screen`.
void derivative_screen(std::span<const double> smooth, std::span<double> screen);

// y padded by h on each side along least-squares lines through its first and last h samples, then
// `times` moving averages with a mollifier window of 2h + 1 (each padded by reflection), unpadded.
void mollify(std::span<const double> y, std::size_t h, std::uint64_t times, std::span<double> out);

// e^(-d^2 / (2 m)), or 1 where the mean square m is 0 (flat data has no slopes to screen out).
template <class P>
[[gnu::always_inline]] inline P screen_factor(const P& d, double mean_square) {
    if (!(mean_square > 0.0)) return P::splat(1.0);
    return simd::exp_nonpositive(P::splat(-0.5) * (d * d / P::splat(mean_square)));
}

// p e^(-(d / k)^2 / 2) above the baseline, 1 - p (`below`) elsewhere, for `inverse_k` = 1 / k, which a loop
// divides out once.
template <class P>
[[gnu::always_inline]] inline P derpsalsa_decay(const P& d, const P& p, const P& below, const P& inverse_k) {
    const P zero = P::splat(0.0), q = d * inverse_k;
    const auto above = d > zero;
    return blend(above, p * simd::exp_nonpositive(blend(above, P::splat(-0.5) * q * q, zero)), below);
}

namespace lanes {

// k per lane, the screen in the block's state.
template <class P, bool Masked>
void update_lanes(const DerPsalsaWeights& rule, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const P p = P::splat(rule.p), below = P::splat(1.0 - rule.p);
    const P inverse_k = P::splat(1.0) / P::load(b.k);
    rows.rewrite([&](std::size_t i) __attribute__((always_inline)) {
        const P decay = derpsalsa_decay(rows.residual(i), p, below, inverse_k);
        return rows.zero_if_masked(i, P::load(b.state + i * P::width) * decay);
    }, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
