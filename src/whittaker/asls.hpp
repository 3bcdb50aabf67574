// AsLS: weight p above the baseline, 1 - p on or below it. Its three forms: one spectrum, the
// lanes of a block of spectra, and a grid.
#pragma once

#include "reweighter.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct AslsWeights {
    double p;
};

double update_masked(const AslsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights, std::size_t iteration,
                     Mask mask = {});

// A grid reweights its points in row-major order as one spectrum.
inline AslsWeights grid_form(const AslsWeights& rule) { return rule; }

namespace lanes {

template <class P, bool Masked>
void update_lanes(const AslsWeights& rule, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const P above = P::splat(rule.p), below = P::splat(1.0 - rule.p);
    rows.rewrite(
        [&](std::size_t i) {
            return rows.zero_if_masked(i, blend(rows.y(i) > P::load(b.factor.t + i * P::width), above, below));
        },
        out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
