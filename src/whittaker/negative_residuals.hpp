// The statistics of the residuals below the baseline, on which the arPLS-like rules build.
#pragma once

#include <cstddef>
#include <limits>
#include <span>

#include "core/mask.hpp"
#include "core/numeric.hpp"
#include "whittaker/lanes/lane_rows.hpp"

namespace quorvel::whittaker {

struct NegativeResiduals {
    std::size_t count;
    double mean;       // of y - baseline where it is negative
    double deviation;  // sample standard deviation of the same (n - 1 divisor); 0 below two
};

// The rules built on these statistics have nothing to weight by below two such residuals.
inline bool too_few(const NegativeResiduals& below) { return below.count < 2; }

NegativeResiduals negative_residuals(std::span<const double> y, std::span<const double> baseline, Mask mask);

namespace lanes {

// The same per lane, with the sums of the scalar form (a skipped sample adds -0.0); `too_few` marks the
// lanes where the values are meaningless.
template <class P>
struct NegativeStatistics {
    P mean, deviation;
    typename P::Mask too_few;
};

template <class P, bool Masked>
NegativeStatistics<P> negative_statistics(const Rows<P, Masked>& rows) {
    const P zero = P::splat(0.0), skip = P::splat(-0.0), one = P::splat(1.0);
    P sum = zero, count = zero, sq = zero;
    for (std::size_t i = 0; i < rows.b.n; ++i) {
        const P d = rows.residual(i);
        const auto c = rows.collected(i, d);
        sum = sum + blend(c, d, skip);
        count = count + blend(c, one, zero);
    }
    const P mean = sum / count;
    for (std::size_t i = 0; i < rows.b.n; ++i) {
        const P d = rows.residual(i);
        const P dev = d - mean;
        sq = sq + blend(rows.collected(i, d), dev * dev, skip);
    }
    return {mean, sqrt(sq / (count - one)), count < P::splat(2.0)};
}

// weights[i] = next(i) where the rule has residuals to weight by; elsewhere the weights stay and the
// change is NaN, which ends those lanes' fits as `exhausted` ends a single one.
template <class P, bool Masked, class Next>
void rewrite_unless(const Rows<P, Masked>& rows, typename P::Mask exhausted, Next next, LaneChange out) {
    rows.rewrite([&](std::size_t i) __attribute__((always_inline)) {
        return blend(exhausted, P::load(rows.b.weights + i * P::width), next(i));
    }, out);
    blend(exhausted, P::splat(std::numeric_limits<double>::quiet_NaN()), P::load(out.diff_sq)).store(out.diff_sq);
}

}  // namespace lanes

}  // namespace quorvel::whittaker
