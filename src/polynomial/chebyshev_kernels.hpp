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

// Samples go four at a time into four lanes of sums (the last few into lane 0), which meet as
// (l0 + l1) + (l2 + l3): a fixed order, so the same bits at any vector width, and four chains that neither wait on
// each other nor keep the compiler from vectorising across them.
inline constexpr std::size_t lanes = 4;

inline double lanes_total(const double* lane) { return (lane[0] + lane[1]) + (lane[2] + lane[3]); }

// sums[a] = sum_i w_i T_a(t_i) value(i) for a < m over samples of positive weight.
template <std::size_t M, class Value>
void weighted_sums(std::span<const double> t, std::span<const double> w, Value value, std::size_t m,
                   double* sums_out) {
    if constexpr (M != 0) m = M;
    double sums[M ? M : 2 * most_terms][lanes] = {};
    const auto add = [&](std::size_t i, std::size_t lane) {
        // A sample of weight 0 may hold anything, even NaN: it must add nothing.
        const double wv = w[i] > 0.0 ? w[i] * value(i) : 0.0, x = t[i];
        // T_-1 = T_1 starts the recurrence exactly: 2x T_0 - x = x.
        double before = x, now = 1.0;
        for (std::size_t a = 0; a < m; ++a) {
            sums[a][lane] += wv * now;
            const double next = 2.0 * x * now - before;
            before = now;
            now = next;
        }
    };
    std::size_t i = 0;
    for (; i + lanes <= t.size(); i += lanes) {
        for (std::size_t lane = 0; lane < lanes; ++lane) add(i + lane, lane);
    }
    for (; i < t.size(); ++i) add(i, 0);
    for (std::size_t a = 0; a < m; ++a) sums_out[a] = lanes_total(sums[a]);
}

template <std::size_t M>
Change evaluate(std::span<const double> t, const double* c, std::size_t m, std::span<double> out,
                std::span<const double> used) {
    if constexpr (M != 0) m = M;
    double coefficients[M ? M : most_terms];
    for (std::size_t a = 0; a < m; ++a) coefficients[a] = c[a];
    // Clenshaw's recurrence.
    const auto at = [&](std::size_t i) {
        const double x = t[i];
        double later = 0.0, latest = 0.0;
        for (std::size_t a = m; a-- > 1;) {
            const double b = coefficients[a] + 2.0 * x * latest - later;
            later = latest;
            latest = b;
        }
        return coefficients[0] + x * latest - later;
    };
    if (used.empty()) {
        for (std::size_t i = 0; i < t.size(); ++i) out[i] = at(i);
        return {};
    }
    double distance2[lanes] = {}, norm2[lanes] = {};
    const auto track = [&](std::size_t i, std::size_t lane) {
        // `used` is 0 or 1 and the curves are finite, so a product leaves the unused samples out.
        const double now = at(i), old = out[i], counted = used[i];
        distance2[lane] += counted * ((now - old) * (now - old));
        norm2[lane] += counted * (old * old);
        out[i] = now;
    };
    std::size_t i = 0;
    for (; i + lanes <= t.size(); i += lanes) {
        for (std::size_t lane = 0; lane < lanes; ++lane) track(i + lane, lane);
    }
    for (; i < t.size(); ++i) track(i, 0);
    return {lanes_total(distance2), lanes_total(norm2)};
}

}  // namespace quorvel::polynomial::kernels
