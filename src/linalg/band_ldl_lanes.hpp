// LDL' factorisation and solve of symmetric band matrices of half-width B (1 to 3), for P::width systems
// at once, row i of system l at [i * width + l]. No square roots and one division per row, so it runs
// well ahead of the Cholesky solve the second-order system of the first methods keeps for its bits.
// Every lane performs the operations of the one-system solve (a width of one) in the same order. The
// per-row steps are forced inline: a call would pass the packs through memory.
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

template <class P, std::size_t B>
using Band = std::array<P, B + 1>;  // [k] for the entry k below the diagonal

// One sweep of the factorisation down a matrix, row by row: what it keeps of the last B rows.
template <class P, std::size_t B>
struct Sweep {
    std::array<Band<P, B>, B + 1> previous{};  // previous[a][b] = L(i - a, i - a - b)
    Band<P, B> inv{}, t{};                      // 1 / D(i - a) and t(i - a)
    typename P::Mask failed = P::splat(0.0) > P::splat(0.0);

    Sweep() {
        for (std::size_t a = 0; a <= B; ++a) {
            inv[a] = t[a] = P::splat(0.0);
            for (auto& value : previous[a]) value = P::splat(0.0);
        }
    }

    // u[k] = L(i, i - k) D(i - k) and l[k] = L(i, i - k) for k > first from the entries e[k] = A(i, i - k);
    // zero for k <= first.
    [[gnu::always_inline]] void couple(const Band<P, B>& e, std::size_t first, Band<P, B>& u, Band<P, B>& l) const {
        for (std::size_t k = B; k >= 1; --k) {
            if (k <= first) {
                u[k] = l[k] = P::splat(0.0);
                continue;
            }
            P s = e[k];
            for (std::size_t b = k + 1; b <= B; ++b) s = s - u[b] * previous[k][b - k];
            u[k] = s;
            l[k] = s * inv[k];
        }
    }

    [[gnu::always_inline]] void push(const Band<P, B>& l, P inv_d, P ti) {
        for (std::size_t a = B; a >= 2; --a) previous[a] = previous[a - 1], inv[a] = inv[a - 1], t[a] = t[a - 1];
        previous[1] = l, inv[1] = inv_d, t[1] = ti;
    }

    // The next row from its entries and right side; stores L(i, i - k), 1 / D(i) and t(i) at `at`.
    [[gnu::always_inline]] void step(const Band<P, B>& e, P rhs, const LaneFactor<B>& f, std::size_t at) {
        constexpr std::size_t width = P::width;
        const P zero = P::splat(0.0), infinity = P::splat(std::numeric_limits<double>::infinity());
        Band<P, B> u, l;
        couple(e, 0, u, l);
        // L(i, i - 1) enters the pivot last, and as u1 u1 / D(i - 1): the chain from one pivot to the
        // next is then a division, a multiplication and a subtraction.
        P d = e[0];
        for (std::size_t k = B; k >= 2; --k) d = d - u[k] * l[k];
        d = d - u[1] * u[1] * inv[1];
        failed = failed | !((d > zero) & (d < infinity));
        const P inv_d = P::splat(1.0) / d;
        P ti = rhs;
        for (std::size_t k = 1; k <= B; ++k) ti = ti - l[k] * t[k];
        for (std::size_t k = 1; k <= B; ++k) l[k].store(f.l[k - 1] + at * width);
        inv_d.store(f.inv_d + at * width);
        ti.store(f.t + at * width);
        push(l, inv_d, ti);
    }
};

template <class P, std::size_t B, class Entry>
[[gnu::always_inline]] inline Band<P, B> entries(Entry entry, std::size_t i) {
    Band<P, B> e;
    for (std::size_t k = 0; k <= B; ++k) e[k] = entry(i, k);
    return e;
}

// Factorises the matrix with entry(i, k) = A(i, i - k) (a pack; zero where i < k) and solves L t = rhs.
// A lane whose pivot D(i) is not finite and positive is flagged and goes on with meaningless values.
template <class P, std::size_t B, class Entry, class Rhs>
typename P::Mask factor_forward(std::size_t n, Entry entry, Rhs rhs, const LaneFactor<B>& f) {
    Sweep<P, B> sweep;
    for (std::size_t i = 0; i < n; ++i) sweep.step(entries<P, B>(entry, i), rhs(i), f, i);
    return sweep.failed;
}

// Rows r = 0 .. count - 1 of a sweep, stored at first + r or first - r, and B rows after them that a
// back substitution takes as known: their x and their factor entries below the diagonal.
template <class P, std::size_t B>
struct SweptRows {
    std::size_t count;
    std::size_t first;
    bool downwards = true;  // rows stored at first + r
    std::array<Band<P, B>, B> tail_l{};
    std::array<P, B> tail_x{};

    std::size_t at(std::size_t r) const { return downwards ? first + r : first - r; }
};

// x(r) = t(r) inv_d(r) - sum_k column[k - 1](r + k) x(r + k) for r = count - 1 .. 0, where rows from
// count on are the known tail; x may be t. With the columns of L this solves D L' x = t, with those of U
// (band_ldu_lanes.hpp) D U x = t.
template <class P, std::size_t B>
struct BackSweep {
    const SweptRows<P, B>& rows;
    const std::array<double*, B>& columns;
    const double* inv_d;
    const double* t;
    double* x;
    std::array<P, B + 1> next{};           // x(r + k)
    std::array<Band<P, B>, B + 1> below{};  // below[k][j] = column[j - 1](r + k), the rows just solved

    void begin() {
        for (std::size_t k = 1; k <= B; ++k) next[k] = rows.tail_x[k - 1], below[k] = rows.tail_l[k - 1];
    }
    [[gnu::always_inline]] void step(std::size_t r) {
        constexpr std::size_t width = P::width;
        const std::size_t at = rows.at(r) * width;
        P xr = P::load(t + at) * P::load(inv_d + at);
        for (std::size_t k = B; k >= 1; --k) xr = xr - below[k][k] * next[k];  // x(r + 1), just found, last
        for (std::size_t k = B; k >= 2; --k) next[k] = next[k - 1], below[k] = below[k - 1];
        next[1] = xr;
        for (std::size_t j = 1; j <= B; ++j) below[1][j] = P::load(columns[j - 1] + at);
        xr.store(x + at);
    }
};

template <class P, std::size_t B>
void substitute_back(const SweptRows<P, B>& rows, const std::array<double*, B>& columns, const double* inv_d,
                     const double* t, double* x) {
    BackSweep<P, B> sweep{rows, columns, inv_d, t, x};
    sweep.begin();
    for (std::size_t r = rows.count; r-- > 0;) sweep.step(r);
}

// The same for rows 0 .. n - 1 in order with nothing after them.
template <class P, std::size_t B>
void substitute_back(std::size_t n, const std::array<double*, B>& columns, const double* inv_d, const double* t,
                     double* x) {
    SweptRows<P, B> rows{n, 0};
    for (auto& band : rows.tail_l) band.fill(P::splat(0.0));
    rows.tail_x.fill(P::splat(0.0));
    substitute_back<P, B>(rows, columns, inv_d, t, x);
}

// Solves D L' x = t; x may be f.t.
template <class P, std::size_t B>
void back_substitute(std::size_t n, const LaneFactor<B>& f, double* x) {
    substitute_back<P, B>(n, f.l, f.inv_d, f.t, x);
}

}  // namespace quorvel::linalg::band
