// The per-sample loops of the Chebyshev normal equations, a portable and an AVX2 form of the same bits, each
// compiled for every number of terms up to 11 so that their sums stay in registers (a sum kept in memory waits on
// its own store every sample). The polynomials are rolled through values, never an array: a vector load of
// values just stored one by one stalls the pipeline.
#pragma once

#include <cstddef>
#include <span>
#include <type_traits>

#include "chebyshev_system.hpp"

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

// The two loops over the samples, for the running CPU: weighted_sums gives sum_i w_i T_a(t_i) v_i (v null: 1) for
// a < m over the samples of positive weight, evaluate writes sum_a c_a T_a(t) at every sample (with `used`, also
// the change of out over the used samples).
struct Kernels {
    void (*weighted_sums)(std::span<const double> t, std::span<const double> w, const double* v, std::size_t m,
                          double* out);
    Change (*evaluate)(std::span<const double> t, const double* c, std::size_t m, std::span<double> out,
                       std::span<const double> used);
};
Kernels portable_kernels();
Kernels avx2_kernels();  // only where simd::avx2_available()
Kernels kernels_for_this_cpu();

}  // namespace quorvel::polynomial::kernels
