// The band LDL' solve of band_ldl_lanes.hpp from both ends at once: one sweep down the first half, one
// up the second, and the B rows between them solved as a small dense system. The two sweeps are
// independent chains of divisions, so a core runs them side by side in the time of one; every lane
// still performs the operations of the one-system solve.
#pragma once

#include <array>
#include <cstddef>
#include <limits>

#include "band_ldl_lanes.hpp"

namespace quorvel::linalg::band {

// What a sweep knows of the B middle rows: u[s][k] = L(m + s, m + s - k) D(m + s - k) and l[s][k] for
// the columns it swept, and sum[s] = the sum of l[s][k] t(m + s - k).
template <class P, std::size_t B>
struct Coupling {
    std::array<Band<P, B>, B> u, l;
    std::array<P, B> sum;
};

// Row s of the middle reached by `sweep` after its own rows, with entries e[s] (row s couples to the
// sweep's rows through its entries k > s).
template <class P, std::size_t B>
Coupling<P, B> couple_middle(Sweep<P, B>& sweep, const std::array<Band<P, B>, B>& e) {
    Coupling<P, B> c;
    for (std::size_t s = 0; s < B; ++s) {
        sweep.couple(e[s], s, c.u[s], c.l[s]);
        c.sum[s] = P::splat(0.0);
        for (std::size_t k = s + 1; k <= B; ++k) c.sum[s] = c.sum[s] + c.l[s][k] * sweep.t[k];
        sweep.push(c.l[s], P::splat(0.0), P::splat(0.0));
    }
    return c;
}

// The Schur complement of both sweeps in the middle, entry (s, s2) for s2 <= s, from A(m + s, m + s2).
template <class P, std::size_t B>
P schur(const Coupling<P, B>& c, std::size_t s, std::size_t s2, P a) {
    for (std::size_t k = s + 1; k <= B; ++k) a = a - c.l[s][k] * c.u[s2][k - (s - s2)];
    return a;
}

// Solves the dense B x B system S x = r (lower triangle of S) in place by LDL'; flags lanes whose pivot
// is not finite and positive.
template <class P, std::size_t B>
typename P::Mask solve_dense(std::array<std::array<P, B>, B>& S, std::array<P, B>& x) {
    const P zero = P::splat(0.0), infinity = P::splat(std::numeric_limits<double>::infinity());
    auto failed = zero > zero;
    std::array<P, B> inv;
    for (std::size_t i = 0; i < B; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            for (std::size_t c = 0; c < j; ++c) S[i][j] = S[i][j] - S[i][c] * S[j][c] * S[c][c];
            S[i][j] = S[i][j] * inv[j];  // L(i, j)
        }
        for (std::size_t c = 0; c < i; ++c) S[i][i] = S[i][i] - S[i][c] * S[i][c] * S[c][c];
        failed = failed | !((S[i][i] > zero) & (S[i][i] < infinity));
        inv[i] = P::splat(1.0) / S[i][i];
        for (std::size_t c = 0; c < i; ++c) x[i] = x[i] - S[i][c] * x[c];
    }
    for (std::size_t i = B; i-- > 0;) {
        x[i] = x[i] * inv[i];
        for (std::size_t c = i + 1; c < B; ++c) x[i] = x[i] - S[c][i] * x[c];
    }
    return failed;
}

// Solves A x = rhs as factor_forward and back_substitute do, for n >= 2 B; the factor rows are stored
// where their rows are, except those of the B middle rows, which the factor does not keep; x may be f.t.
template <class P, std::size_t B, class Entry, class Rhs>
typename P::Mask solve_twisted(std::size_t n, Entry entry, Rhs rhs, const LaneFactor<B>& f, double* x) {
    const std::size_t m = (n - B) / 2, below = n - B - m;  // rows above and below the middle
    // The lower sweep reads the matrix turned upside down: row r is row n - 1 - r.
    const auto flipped = [&](std::size_t r, std::size_t k) { return r < k ? P::splat(0.0) : entry(n - 1 - r + k, k); };
    Sweep<P, B> top, bottom;
    for (std::size_t r = 0; r < below; ++r) {
        if (r < m) top.step(entries<P, B>(entry, r), rhs(r), f, r);
        bottom.step(entries<P, B>(flipped, r), rhs(n - 1 - r), f, n - 1 - r);
    }
    std::array<Band<P, B>, B> e_top, e_bottom;
    for (std::size_t s = 0; s < B; ++s) {
        e_top[s] = entries<P, B>(entry, m + s);
        e_bottom[s] = entries<P, B>(flipped, below + s);
    }
    const Coupling<P, B> up = couple_middle(top, e_top), down = couple_middle(bottom, e_bottom);
    std::array<std::array<P, B>, B> S;
    std::array<P, B> x_middle;
    for (std::size_t s = 0; s < B; ++s) {
        const std::size_t t = B - 1 - s;  // the same row counted by the lower sweep
        for (std::size_t s2 = 0; s2 <= s; ++s2) {
            S[s][s2] = schur(down, B - 1 - s2, t, schur(up, s, s2, e_top[s][s - s2]));
        }
        x_middle[s] = rhs(m + s) - up.sum[s] - down.sum[t];
    }
    const auto failed = top.failed | bottom.failed | solve_dense<P, B>(S, x_middle);
    for (std::size_t s = 0; s < B; ++s) x_middle[s].store(x + (m + s) * P::width);
    SweptRows<P, B> upper{m, 0, true, up.l, x_middle}, lower{below, n - 1, false, down.l, {}};
    for (std::size_t s = 0; s < B; ++s) lower.tail_x[s] = x_middle[B - 1 - s];
    BackSweep<P, B> up_sweep{upper, f.l, f.inv_d, f.t, x}, down_sweep{lower, f.l, f.inv_d, f.t, x};
    up_sweep.begin(), down_sweep.begin();
    for (std::size_t r = below; r-- > 0;) {
        if (r < m) up_sweep.step(r);
        down_sweep.step(r);
    }
    return failed;
}

// Solves A x = rhs for the matrix with entry(i, k) = A(i, i - k), from both ends when it is long
// enough; flags lanes with a pivot that is not finite and positive. x may be f.t.
template <class P, std::size_t B, class Entry, class Rhs>
typename P::Mask solve(std::size_t n, Entry entry, Rhs rhs, const LaneFactor<B>& f, double* x) {
    if (n >= 4 * B) return solve_twisted<P, B>(n, entry, rhs, f, x);
    const auto failed = factor_forward<P, B>(n, entry, rhs, f);
    back_substitute<P, B>(n, f, x);
    return failed;
}

}  // namespace quorvel::linalg::band
