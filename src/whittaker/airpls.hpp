// airPLS: exponential weights below the baseline that sharpen with every iteration. Its forms:
// one spectrum, the lanes of a block of spectra, and a grid.
#pragma once

#include <vector>

#include "core/numeric.hpp"
#include "negative_residuals.hpp"
#include "reweighter.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct AirPlsWeights {};

inline constexpr double airpls_weight_cap = 1e12;

double update_masked(const AirPlsWeights& rule, std::span<const double> y,
                     std::span<const double> baseline, std::span<double> weights, std::size_t iteration,
                     Mask mask = {});

// The grid form keeps the reference library's loop, as the grid methods that came with it do: it
// stops on the share of the data below the baseline (sum of |negative residuals| / `scale`, the sum
// of |y|), pins no end, and ends the fit when fewer than two residuals lie below the baseline.
struct AirPlsShare {
    double scale;
    static constexpr bool reference_loop = true;
};

inline AirPlsShare grid_form(const AirPlsWeights&) { return {0.0}; }
AirPlsShare grid_start(const AirPlsShare& rule, std::span<const double> y, Mask mask, std::vector<double>& state);

// Rewrites the weights and returns the share that decides the stop, not the weights' change.
double update_masked(const AirPlsShare& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

namespace lanes {

template <class P, bool Masked>
void update_lanes(const AirPlsWeights&, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const P zero = P::splat(0.0), one = P::splat(1.0), cap = P::splat(airpls_weight_cap);
    const P sum = rows.negative_sum();
    const auto none = sum <= P::splat(epsilon);
    const P k = P::load(b.iteration) / sum;
    const P first = Masked ? P::load(b.first) : zero, last = Masked ? P::load(b.last) : zero;
    rows.rewrite(
        [&](std::size_t i) {
            const P d = rows.residual(i);
            const auto below = rows.collected(i, d);
            P w = blend(below, min_num(exp_where(below, k * abs(d)), cap), zero);
            if constexpr (Masked) {
                const P at = P::splat(static_cast<double>(i));
                w = blend(equal(at, first) | equal(at, last), one, w);
            } else if (i == 0 || i + 1 == b.n) {
                w = one;
            }
            return blend(none, rows.uniform(i), w);
        },
        out);
}

// The weights of the share's form; the share itself is the caller's (negative_sums over rule.scale).
template <class P, bool Masked>
void update_lanes(const AirPlsShare&, const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const P zero = P::splat(0.0), one = P::splat(1.0), cap = P::splat(airpls_weight_cap);
    P sum = zero, count = zero;
    for (std::size_t i = 0; i < b.n; ++i) {
        const P d = rows.residual(i);
        const auto c = rows.collected(i, d);
        sum = sum - blend(c, d, zero);
        count = count + blend(c, one, zero);
    }
    const P k = P::load(b.iteration) / sum;
    rewrite_unless(rows, count < P::splat(2.0), [&](std::size_t i) __attribute__((always_inline)) {
        const P d = rows.residual(i);
        const auto below = rows.collected(i, d);
        return blend(below, min_num(exp_where(below, k * -d), cap), zero);
    }, out);
}

}  // namespace lanes
}  // namespace quorvel::whittaker
