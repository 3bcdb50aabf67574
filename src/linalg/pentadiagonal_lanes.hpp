// The second-difference solve of P::width systems of one length at once, row i of system l stored at
// [i * width + l]. Every lane performs the operations of the one-system solve in the same order, so it
// gets the bits that system gets alone; a width of one is the one-system solve itself.
#pragma once

#include <cstddef>
#include <limits>

#include "second_order_penalty.hpp"

namespace quorvel::linalg::pentadiagonal {

// The factor and the forward substitution t; the back substitution may write over t.
struct LaneFactor {
    double* l_diag;
    double* l_sub1;
    double* l_sub2;
    double* t;
};

// Factorises W + lambda D'D for n >= 3 and solves L t = W y. A lane whose pivot is not finite and
// positive is flagged and goes on with meaningless values; the others are unaffected.
template <class P>
typename P::Mask factor_forward(const double* y, const double* w, std::size_t n, const SecondOrderPenalty& pen,
                                const LaneFactor& f) {
    constexpr std::size_t width = P::width;
    const P zero = P::splat(0.0), infinity = P::splat(std::numeric_limits<double>::infinity());
    const P off2 = P::splat(pen.off2);
    auto bad = [&](const P& pivot) { return !((pivot > zero) & (pivot < infinity)); };
    auto weight = [&](std::size_t i) { return P::load(w + i * width); };
    auto rhs = [&](std::size_t i) { return weight(i) * P::load(y + i * width); };

    // Rows 0 and 1 read the cleared start of l_sub1 and l_sub2, here as explicit zeros.
    zero.store(f.l_sub1);
    zero.store(f.l_sub2);
    zero.store(f.l_sub2 + width);
    P pivot = weight(0) + P::splat(pen.end) - zero * zero - zero * zero;
    auto failed = bad(pivot);
    P d2 = sqrt(pivot);
    P t2 = rhs(0) / d2;
    d2.store(f.l_diag);
    t2.store(f.t);

    P s1 = (P::splat(pen.off1_end) - zero * zero) / d2;
    pivot = weight(1) + P::splat(pen.next) - s1 * s1 - zero * zero;
    failed = failed | bad(pivot);
    P d1 = sqrt(pivot);
    P t1 = (rhs(1) - s1 * t2) / d1;
    d1.store(f.l_diag + width);
    s1.store(f.l_sub1 + width);
    t1.store(f.t + width);

    // Inlined at its three uses, so that the recurrence stays in registers.
    auto row = [&](std::size_t i, double diag_term, double off1) __attribute__((always_inline)) {
        const P s2 = off2 / d2;
        s1 = (P::splat(off1) - s1 * s2) / d1;
        const P p = weight(i) + P::splat(diag_term) - s1 * s1 - s2 * s2;
        failed = failed | bad(p);
        const P d = sqrt(p);
        const P t = (rhs(i) - s1 * t1 - s2 * t2) / d;
        d.store(f.l_diag + i * width);
        s1.store(f.l_sub1 + i * width);
        s2.store(f.l_sub2 + i * width);
        t.store(f.t + i * width);
        d2 = d1, d1 = d, t2 = t1, t1 = t;
    };
    for (std::size_t i = 2; i + 2 < n; ++i) row(i, pen.inner, pen.off1_inner);
    if (n >= 4) row(n - 2, pen.next, pen.off1_inner);
    row(n - 1, pen.end, pen.off1_end);
    return failed;
}

// Solves L' x = t for n >= 3; x may be f.t.
template <class P>
void back_substitute(std::size_t n, const LaneFactor& f, double* x) {
    constexpr std::size_t width = P::width;
    auto at = [&](const double* a, std::size_t i) { return P::load(a + i * width); };
    P x2 = at(f.t, n - 1) / at(f.l_diag, n - 1);
    x2.store(x + (n - 1) * width);
    P x1 = (at(f.t, n - 2) - at(f.l_sub1, n - 1) * x2) / at(f.l_diag, n - 2);
    x1.store(x + (n - 2) * width);
    for (std::size_t i = n - 2; i-- > 0;) {
        const P xi = (at(f.t, i) - at(f.l_sub1, i + 1) * x1 - at(f.l_sub2, i + 2) * x2) / at(f.l_diag, i);
        xi.store(x + i * width);
        x2 = x1, x1 = xi;
    }
}

}  // namespace quorvel::linalg::pentadiagonal
