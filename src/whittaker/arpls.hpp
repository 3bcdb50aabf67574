// arPLS: logistic weights from the statistics of the negative residuals. Its three forms: one
// spectrum, the lanes of a block of spectra, and a grid.
#pragma once

#include "core/numeric.hpp"
#include "negative_residuals.hpp"
#include "reweighter.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct ArPlsWeights {
    // Grids have always used the sample deviation, so they need two negative residuals, and
    // form the threshold from the deviation before its floor; spectra use the population one.
    bool sample_statistics = false;
};

double update_masked(const ArPlsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights, std::size_t iteration,
                     Mask mask = {});

// A grid reweights its points in row-major order as one spectrum, with sample statistics.
inline ArPlsWeights grid_form(const ArPlsWeights&) { return {.sample_statistics = true}; }

namespace lanes {

// 1 - sigmoid(((d - g) + (d - g)) / s) from one exponential of a non-positive number, as either branch of the
// scalar form; uniform weights where `none`.
template <class P, bool Masked>
void logistic_rewrite(const Rows<P, Masked>& rows, const P& g, const P& s, typename P::Mask none, LaneChange out) {
    const P zero = P::splat(0.0), one = P::splat(1.0);
    rows.rewrite(
        [&](std::size_t i) {
            const P d = rows.residual(i);
            const P t = ((d - g) + (d - g)) / s;
            const auto positive = t >= zero;
            const P e = exp_each(blend(positive, -t, t));
            const P w = one - blend(positive, one, e) / (one + e);
            return blend(none, rows.uniform(i), rows.zero_if_masked(i, w));
        },
        out);
}

template <class P, bool Masked>
void update_lanes(const ArPlsWeights& rule, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    if (rule.sample_statistics) {
        const auto below = negative_statistics(rows);
        const P s = max_num(below.deviation, P::splat(epsilon));
        return logistic_rewrite(rows, (below.deviation + below.deviation) - below.mean, s, below.too_few, out);
    }
    const P zero = P::splat(0.0), minus_zero = P::splat(-0.0), one = P::splat(1.0);
    P sum = minus_zero, count = zero;
    for (std::size_t i = 0; i < b.n; ++i) {
        const P d = rows.residual(i);
        const auto c = rows.collected(i, d);
        sum = sum + blend(c, d, minus_zero);
        count = count + blend(c, one, zero);  // exact below 2^53, as the scalar count is
    }
    const auto none = !(count > zero);
    const P mean = sum / count;
    P sq = minus_zero;
    for (std::size_t i = 0; i < b.n; ++i) {
        const P d = rows.residual(i);
        const P dev = d - mean;
        sq = sq + blend(rows.collected(i, d), dev * dev, minus_zero);
    }
    const P s = max_num(sqrt(sq / count), P::splat(epsilon));
    logistic_rewrite(rows, (s + s) - mean, s, none, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
