// LDL' factorisation and solve of symmetric band matrices of half-width B (1 to 3), for P::width systems
// at once, row i of system l at [i * width + l]. No square roots and one division per row, so it runs
// well ahead of the Cholesky solve the second-order system of the first methods keeps for its bits.
// Every lane performs the operations of the one-system solve (a width of one) in the same order.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <type_traits>

namespace quorvel::linalg::band {

// f(std::integral_constant<std::size_t, B>) for the half-width B = width, 1 to 3.
template <class F>
auto with_width(unsigned width, F f) {
    switch (width) {
        case 1: return f(std::integral_constant<std::size_t, 1>{});
        case 2: return f(std::integral_constant<std::size_t, 2>{});
        default: return f(std::integral_constant<std::size_t, 3>{});
    }
}

// l[k - 1] holds L(i, i - k) at row i; inv_d holds 1 / D(i); t the forward substitution, which the
// back substitution may overwrite.
template <std::size_t B>
struct LaneFactor {
    std::array<double*, B> l;
    double* inv_d;
    double* t;
};

// Factorises the matrix with entry(i, k) = A(i, i - k) (a pack; zero where i < k) and solves L t = rhs.
// A lane whose pivot D(i) is not finite and positive is flagged and goes on with meaningless values.
template <class P, std::size_t B, class Entry, class Rhs>
typename P::Mask factor_forward(std::size_t n, Entry entry, Rhs rhs, const LaneFactor<B>& f) {
    constexpr std::size_t width = P::width;
    const P zero = P::splat(0.0), one = P::splat(1.0), infinity = P::splat(std::numeric_limits<double>::infinity());
    // Rows i - 1 .. i - B: their factor rows, reciprocal pivots and substitutions, zero before row 0.
    std::array<std::array<P, B + 1>, B + 1> previous;
    std::array<P, B + 1> inv, t;
    for (std::size_t a = 0; a <= B; ++a) {
        inv[a] = t[a] = zero;
        for (std::size_t b = 0; b <= B; ++b) previous[a][b] = zero;
    }
    auto failed = zero > zero;
    for (std::size_t i = 0; i < n; ++i) {
        std::array<P, B + 1> l, u;  // L(i, i - k) and L(i, i - k) D(i - k)
        for (std::size_t k = B; k >= 1; --k) {
            P s = entry(i, k);
            for (std::size_t b = k + 1; b <= B; ++b) s = s - u[b] * previous[k][b - k];
            u[k] = s;
            l[k] = s * inv[k];
        }
        P d = entry(i, 0);
        for (std::size_t k = 1; k <= B; ++k) d = d - u[k] * l[k];
        failed = failed | !((d > zero) & (d < infinity));
        const P inv_d = one / d;
        P ti = rhs(i);
        for (std::size_t k = 1; k <= B; ++k) ti = ti - l[k] * t[k];
        for (std::size_t k = 1; k <= B; ++k) l[k].store(f.l[k - 1] + i * width);
        inv_d.store(f.inv_d + i * width);
        ti.store(f.t + i * width);
        for (std::size_t a = B; a >= 2; --a) previous[a] = previous[a - 1], inv[a] = inv[a - 1], t[a] = t[a - 1];
        previous[1] = l, inv[1] = inv_d, t[1] = ti;
    }
    return failed;
}

// x(i) = t(i) inv_d(i) - sum_k column[k - 1](i + k) x(i + k), from the last row up; x may be t. With the
// columns of L this solves D L' x = t, with those of U (band_ldu_lanes.hpp) D U x = t.
template <class P, std::size_t B>
void substitute_back(std::size_t n, const std::array<double*, B>& columns, const double* inv_d, const double* t,
                     double* x) {
    constexpr std::size_t width = P::width;
    std::array<P, B + 1> next;  // x(i + k)
    for (auto& value : next) value = P::splat(0.0);
    for (std::size_t i = n; i-- > 0;) {
        P xi = P::load(t + i * width) * P::load(inv_d + i * width);
        for (std::size_t k = 1; k <= B && i + k < n; ++k) xi = xi - P::load(columns[k - 1] + (i + k) * width) * next[k];
        for (std::size_t k = B; k >= 2; --k) next[k] = next[k - 1];
        next[1] = xi;
        xi.store(x + i * width);
    }
}

// Solves D L' x = t; x may be f.t.
template <class P, std::size_t B>
void back_substitute(std::size_t n, const LaneFactor<B>& f, double* x) {
    substitute_back<P, B>(n, f.l, f.inv_d, f.t, x);
}

}  // namespace quorvel::linalg::band
