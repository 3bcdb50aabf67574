// The weight rules across the lanes of a block: in each lane the operations, branches and sums of
// update_masked for that lane's spectrum alone. A branch becomes a blend of both outcomes; a sum
// that skips a sample adds -0.0 instead, which leaves every value, zeros included, as it was.
#pragma once

#include <cstddef>

#include "core/numeric.hpp"
#include "lane_block.hpp"
#include "whittaker/airpls.hpp"

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

template <class P, bool Masked>
void asls(const LaneBlock& b, double p, LaneChange out) {
    const Rows<P, Masked> rows{b};
    const P above = P::splat(p), below = P::splat(1.0 - p);
    rows.rewrite(
        [&](std::size_t i) {
            return rows.zero_if_masked(i, blend(rows.y(i) > P::load(b.factor.t + i * P::width), above, below));
        },
        out);
}

template <class P, bool Masked>
void arpls(const LaneBlock& b, LaneChange out) {
    const Rows<P, Masked> rows{b};
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
    const P g = (s + s) - mean;
    rows.rewrite(
        [&](std::size_t i) {
            const P d = rows.residual(i);
            const P t = ((d - g) + (d - g)) / s;
            // One exponential of a non-positive number, as either branch of the scalar rule.
            const auto positive = t >= zero;
            const P e = exp_each(blend(positive, -t, t));
            const P w = one - blend(positive, one, e) / (one + e);
            return blend(none, rows.uniform(i), rows.zero_if_masked(i, w));
        },
        out);
}

template <class P, bool Masked>
void airpls(const LaneBlock& b, LaneChange out) {
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

}  // namespace quorvel::whittaker::lanes
