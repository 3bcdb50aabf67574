// LDU factorisation without row exchanges, and solve, of band matrices of half-width B (1 to 3) that are
// not symmetric but close to it (a symmetric matrix with rows scaled by positive factors), for P::width
// systems at once, row i of system l at [i * width + l]; the companion of band_ldl_lanes.hpp. A lane
// whose pivot is not finite and positive is flagged: its caller solves that system with row exchanges.
#pragma once

#include <array>
#include <cstddef>
#include <limits>

#include "band_ldl_lanes.hpp"

namespace quorvel::linalg::band {

// l[k - 1] holds L(i, i - k) and u[k - 1] holds U(i - k, i) at row i; inv_d 1 / D(i); t the forward
// substitution, which the back substitution may overwrite.
template <std::size_t B>
struct LduFactor {
    std::array<double*, B> l, u;
    double* inv_d;
    double* t;
};

// lower(i, k) = A(i, i - k) (k = 0 the diagonal), upper(i, k) = A(i - k, i), both packs and zero where i < k.
template <class P, std::size_t B, class Lower, class Upper, class Rhs>
typename P::Mask ldu_factor_forward(std::size_t n, Lower lower, Upper upper, Rhs rhs, const LduFactor<B>& f) {
    constexpr std::size_t width = P::width;
    const P zero = P::splat(0.0), one = P::splat(1.0), infinity = P::splat(std::numeric_limits<double>::infinity());
    // Rows i - 1 .. i - B: L(i - a, i - a - b), U(i - a - b, i - a), 1 / D(i - a) and t(i - a).
    std::array<std::array<P, B + 1>, B + 1> previous_l, previous_u;
    std::array<P, B + 1> inv, t;
    for (std::size_t a = 0; a <= B; ++a) {
        inv[a] = t[a] = zero;
        for (std::size_t b = 0; b <= B; ++b) previous_l[a][b] = previous_u[a][b] = zero;
    }
    auto failed = zero > zero;
    for (std::size_t i = 0; i < n; ++i) {
        // lu[k] = L(i, i - k) D(i - k) and du[k] = D(i - k) U(i - k, i), then L and U themselves.
        std::array<P, B + 1> lu, du, l, u;
        for (std::size_t k = B; k >= 1; --k) {
            P s = lower(i, k), r = upper(i, k);
            for (std::size_t b = k + 1; b <= B; ++b) {
                s = s - lu[b] * previous_u[k][b - k];
                r = r - previous_l[k][b - k] * du[b];
            }
            lu[k] = s, du[k] = r;
            l[k] = s * inv[k], u[k] = r * inv[k];
        }
        P d = lower(i, 0);
        for (std::size_t k = 1; k <= B; ++k) d = d - lu[k] * u[k];
        failed = failed | !((d > zero) & (d < infinity));
        const P inv_d = one / d;
        P ti = rhs(i);
        for (std::size_t k = 1; k <= B; ++k) ti = ti - l[k] * t[k];
        for (std::size_t k = 1; k <= B; ++k) {
            l[k].store(f.l[k - 1] + i * width);
            u[k].store(f.u[k - 1] + i * width);
        }
        inv_d.store(f.inv_d + i * width);
        ti.store(f.t + i * width);
        for (std::size_t a = B; a >= 2; --a) {
            previous_l[a] = previous_l[a - 1], previous_u[a] = previous_u[a - 1];
            inv[a] = inv[a - 1], t[a] = t[a - 1];
        }
        previous_l[1] = l, previous_u[1] = u, inv[1] = inv_d, t[1] = ti;
    }
    return failed;
}

// Solves D U x = t; x may be f.t.
template <class P, std::size_t B>
void ldu_back_substitute(std::size_t n, const LduFactor<B>& f, double* x) {
    substitute_back<P, B>(n, f.u, f.inv_d, f.t, x);
}

}  // namespace quorvel::linalg::band
