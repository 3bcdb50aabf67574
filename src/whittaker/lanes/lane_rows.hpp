// What every weight rule's lane form reads and writes: the rows of a block, in each lane the
// operations, branches and sums of the rule's form for one spectrum. A branch becomes a blend of
// both outcomes; a sum that skips a sample adds -0.0 instead, which leaves every value, zeros
// included, as it was.
#pragma once

#include <cstddef>

#include "lane_block.hpp"

namespace quorvel::whittaker::lanes {

template <class P, bool Masked>
struct Rows {
    const LaneBlock& b;

    static constexpr std::size_t width = P::width;
    P y(std::size_t i) const { return P::load(b.y + i * width); }
    P residual(std::size_t i) const { return y(i) - P::load(b.factor.t + i * width); }
    // Weight 1 for a used sample and 0 for a masked one: the keep value itself.
    P uniform(std::size_t i) const {
        if constexpr (Masked) return P::load(b.keep + i * width);
        return P::splat(1.0);
    }
    typename P::Mask used(std::size_t i) const { return uniform(i) > P::splat(0.0); }
    typename P::Mask collected(std::size_t i, const P& d) const {
        if constexpr (Masked) return used(i) & (d < P::splat(0.0));
        return d < P::splat(0.0);
    }
    P zero_if_masked(std::size_t i, const P& w) const {
        if constexpr (Masked) return blend(used(i), w, P::splat(0.0));
        return w;
    }

    // weights[i] = next(i) in index order, measuring the change as WeightChange does.
    template <class Next>
    void rewrite(Next next, LaneChange out) const {
        P diff = P::splat(-0.0), old = P::splat(-0.0);
        for (std::size_t i = 0; i < b.n; ++i) {
            double* at = b.weights + i * width;
            const P w_old = P::load(at), w_new = next(i);
            w_new.store(at);
            const P d = w_new - w_old;
            diff = diff + d * d;
            old = old + w_old * w_old;
        }
        diff.store(out.diff_sq);
        old.store(out.old_sq);
    }

    P negative_sum() const {
        P sum = P::splat(-0.0);
        for (std::size_t i = 0; i < b.n; ++i) {
            const P d = residual(i);
            sum = sum + blend(collected(i, d), abs(d), P::splat(-0.0));
        }
        return sum;
    }
};

template <class P, bool Masked>
void negative_sums(const LaneBlock& b, double* sums) {
    Rows<P, Masked>{b}.negative_sum().store(sums);
}

}  // namespace quorvel::whittaker::lanes
