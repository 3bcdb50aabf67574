// The per-sample loops of the Chebyshev normal equations, written once against a pack of four lanes (portable or
// AVX2, the same bits): sample i + l of each block of four goes to lane l, the last few samples to lane 0 one by
// one, and the lanes meet as (l0 + l1) + (l2 + l3). Include only from chebyshev_kernels*.cpp.
#pragma once

#include <cstddef>
#include <span>

#include "chebyshev_kernels.hpp"

namespace quorvel::polynomial::kernels {
namespace {

template <class Pack>
double lanes_total(const Pack& pack) {
    double lane[4];
    pack.store(lane);
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

// sums[a] = sum_i w_i T_a(t_i) v_i (v null: 1) for a < m over the samples of positive weight; the polynomials are
// rolled through T_-1 = T_1, which starts the recurrence exactly (2x T_0 - x = x).
template <class Pack, std::size_t M>
void weighted_sums(std::span<const double> t, std::span<const double> w, const double* v, std::size_t m,
                   double* out) {
    if constexpr (M != 0) m = M;
    const Pack zero = Pack::splat(0.0), two = Pack::splat(2.0);
    Pack sums[M ? M : 2 * most_terms];
    for (std::size_t a = 0; a < m; ++a) sums[a] = zero;
    const std::size_t n = t.size(), blocks = n - n % 4;
    for (std::size_t i = 0; i < blocks; i += 4) {
        const Pack x = Pack::load(t.data() + i), weight = Pack::load(w.data() + i);
        // A sample of weight 0 may hold anything, even NaN: it must add nothing.
        const Pack wv = blend(weight > zero, v ? weight * Pack::load(v + i) : weight, zero);
        Pack before = x, now = Pack::splat(1.0);
        for (std::size_t a = 0; a < m; ++a) {
            sums[a] = sums[a] + wv * now;
            const Pack next = two * x * now - before;
            before = now;
            now = next;
        }
    }
    double tail[M ? M : 2 * most_terms] = {};
    for (std::size_t i = blocks; i < n; ++i) {
        const double x = t[i], wv = w[i] > 0.0 ? w[i] * (v ? v[i] : 1.0) : 0.0;
        double before = x, now = 1.0;
        for (std::size_t a = 0; a < m; ++a) {
            tail[a] += wv * now;
            const double next = 2.0 * x * now - before;
            before = now;
            now = next;
        }
    }
    for (std::size_t a = 0; a < m; ++a) {
        double lane[4];
        sums[a].store(lane);
        lane[0] += tail[a];
        out[a] = (lane[0] + lane[1]) + (lane[2] + lane[3]);
    }
}

// Clenshaw's recurrence for sum_a c_a T_a(x).
template <class Value, std::size_t M>
Value clenshaw(const Value& x, const Value* c, std::size_t m) {
    if constexpr (M != 0) m = M;
    Value later = c[0] - c[0], latest = later;
    const Value twice_x = x + x;
    for (std::size_t a = m; a-- > 1;) {
        const Value b = c[a] + twice_x * latest - later;
        later = latest;
        latest = b;
    }
    return c[0] + x * latest - later;
}

// out = sum_a c_a T_a(t) at every sample; with `used` (0 or 1 per sample), the squared change of out and the old
// out's squared norm over the used samples.
template <class Pack, std::size_t M>
Change evaluate(std::span<const double> t, const double* c, std::size_t m, std::span<double> out,
                std::span<const double> used) {
    if constexpr (M != 0) m = M;
    Pack coefficients[M ? M : most_terms];
    for (std::size_t a = 0; a < m; ++a) coefficients[a] = Pack::splat(c[a]);
    const std::size_t n = t.size(), blocks = n - n % 4;
    const bool track = !used.empty();
    Pack distance2 = Pack::splat(0.0), norm2 = distance2;
    for (std::size_t i = 0; i < blocks; i += 4) {
        const Pack now = clenshaw<Pack, M>(Pack::load(t.data() + i), coefficients, m);
        if (track) {
            // `used` is 0 or 1 and the curves are finite, so a product leaves the unused samples out.
            const Pack old = Pack::load(out.data() + i), counted = Pack::load(used.data() + i);
            distance2 = distance2 + counted * ((now - old) * (now - old));
            norm2 = norm2 + counted * (old * old);
        }
        now.store(out.data() + i);
    }
    double tail_distance2 = 0.0, tail_norm2 = 0.0;
    for (std::size_t i = blocks; i < n; ++i) {
        const double now = clenshaw<double, M>(t[i], c, m);
        if (track) {
            const double old = out[i], counted = used[i];
            tail_distance2 += counted * ((now - old) * (now - old));
            tail_norm2 += counted * (old * old);
        }
        out[i] = now;
    }
    double d[4], s[4];
    distance2.store(d);
    norm2.store(s);
    d[0] += tail_distance2;
    s[0] += tail_norm2;
    return {(d[0] + d[1]) + (d[2] + d[3]), (s[0] + s[1]) + (s[2] + s[3])};
}

template <class Pack>
Kernels kernels_of() {
    return {
        [](std::span<const double> t, std::span<const double> w, const double* v, std::size_t m, double* out) {
            with_terms(m, [&](auto fixed) { weighted_sums<Pack, fixed()>(t, w, v, m, out); });
        },
        [](std::span<const double> t, const double* c, std::size_t m, std::span<double> out,
           std::span<const double> used) {
            return with_terms(m, [&](auto fixed) { return evaluate<Pack, fixed()>(t, c, m, out, used); });
        },
    };
}

}  // namespace
}  // namespace quorvel::polynomial::kernels
