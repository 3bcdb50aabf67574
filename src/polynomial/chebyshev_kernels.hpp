// The per-sample loops of the Chebyshev normal equations, compiled for each number of terms up to 11 so that
// their sums stay in registers (a sum kept in memory waits on its own store every sample). The polynomials are
// rolled through scalars, never an array: a vector load of values just stored one by one stalls the pipeline.
#pragma once

#include <cstddef>
#include <span>
#include <type_traits>

#include "chebyshev_system.hpp"
#include "core/numeric.hpp"

namespace quorvel::polynomial::kernels {

inline constexpr std::size_t most_terms = 21;

// f(integral_constant<M>) with M = terms up to 11, or M = 0 for any larger count (read at run time).
template <class F>
decltype(auto) with_terms(std::size_t terms, F f) {
    switch (terms) {
        case 1: return f(std::integral_constant<std::size_t, 1>{});
        case 2: return f(std::integral_constant<std::size_t, 2>{});
        case 3: return f(std::integral_constant<std::size_t, 3>{});
        case 4: return f(std::integral_constant<std::size_t, 4>{});
        case 5: return f(std::integral_constant<std::size_t, 5>{});
        case 6: return f(std::integral_constant<std::size_t, 6>{});
        case 7: return f(std::integral_constant<std::size_t, 7>{});
        case 8: return f(std::integral_constant<std::size_t, 8>{});
        case 9: return f(std::integral_constant<std::size_t, 9>{});
        case 10: return f(std::integral_constant<std::size_t, 10>{});
        case 11: return f(std::integral_constant<std::size_t, 11>{});
        default: return f(std::integral_constant<std::size_t, 0>{});
    }
}

// sums[a] = sum_i w_i T_a(t_i) value(i) for a < m over samples of positive weight, in two interleaved streams
// (even and odd i) whose sums meet at the end, so consecutive samples do not wait on each other.
template <std::size_t M, class Value>
void weighted_sums(std::span<const double> t, std::span<const double> w, Value value, std::size_t m,
                   double* sums_out) {
    if constexpr (M != 0) m = M;
    double even[M ? M : 2 * most_terms] = {}, odd[M ? M : 2 * most_terms] = {};
    const auto add = [&](std::size_t i, double* sums) {
        const double wv = pick(w[i] > 0.0, w[i] * value(i), 0.0), x = t[i];
        double before = 1.0, now = x;
        sums[0] += wv;
        if (m > 1) sums[1] += wv * x;
        for (std::size_t a = 2; a < m; ++a) {
            const double next = 2.0 * x * now - before;
            sums[a] += wv * next;
            before = now;
            now = next;
        }
    };
    std::size_t i = 0;
    for (; i + 2 <= t.size(); i += 2) add(i, even), add(i + 1, odd);
    if (i < t.size()) add(i, even);
    for (std::size_t a = 0; a < m; ++a) sums_out[a] = even[a] + odd[a];
}

template <std::size_t M>
Change evaluate(std::span<const double> t, const double* c, std::size_t m, std::span<double> out,
                std::span<const double> used) {
    if constexpr (M != 0) m = M;
    // Clenshaw's recurrence.
    const auto at = [&](std::size_t i) {
        const double x = t[i];
        double later = 0.0, latest = 0.0;
        for (std::size_t a = m; a-- > 1;) {
            const double b = c[a] + 2.0 * x * latest - later;
            later = latest;
            latest = b;
        }
        return c[0] + x * latest - later;
    };
    if (used.empty()) {
        for (std::size_t i = 0; i < t.size(); ++i) out[i] = at(i);
        return {};
    }
    Change even, odd;
    const auto track = [&](std::size_t i, Change& change) {
        // `used` is 0 or 1 and the curves are finite, so a product leaves the unused samples out.
        const double now = at(i), old = out[i], counted = used[i];
        change.distance2 += counted * ((now - old) * (now - old));
        change.norm2 += counted * (old * old);
        out[i] = now;
    };
    std::size_t i = 0;
    for (; i + 2 <= t.size(); i += 2) track(i, even), track(i + 1, odd);
    if (i < t.size()) track(i, even);
    return {even.distance2 + odd.distance2, even.norm2 + odd.norm2};
}

}  // namespace quorvel::polynomial::kernels
