#include "pentadiagonal.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "pentadiagonal_lanes.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::linalg::pentadiagonal {

void PentadiagonalWorkspace::resize(std::size_t n) {
    const std::size_t n1 = n >= 1 ? n - 1 : 0;
    const std::size_t n2 = n >= 2 ? n - 2 : 0;
    diag.resize(n, 0.0);
    off1.resize(n1, 0.0);
    off2.resize(n2, 0.0);
    l_diag.resize(n, 0.0);
    l_sub1.resize(n, 0.0);
    l_sub2.resize(n, 0.0);
    rhs.resize(n, 0.0);
}

SecondOrderPenalty second_order_penalty(std::size_t n, double lambda) {
    // For n = 3 the one difference row (1, -2, 1) gives the exact D'D: a line costs nothing.
    return {lambda, n == 3 ? lambda * 4.0 : lambda * 5.0, lambda * 6.0, -2.0 * lambda, -4.0 * lambda, lambda};
}

void fill_second_order_bands(std::span<const double> weights, std::span<double> diag,
                             std::span<double> off1, std::span<double> off2, double lambda) {
    const std::size_t n = weights.size();
    const SecondOrderPenalty pen = second_order_penalty(n, lambda);
    std::copy(weights.begin(), weights.end(), diag.begin());
    diag[0] = diag[0] + pen.end;
    diag[1] = diag[1] + pen.next;
    for (std::size_t i = 2; i + 2 < n; ++i) diag[i] = diag[i] + pen.inner;
    if (n >= 4) diag[n - 2] = diag[n - 2] + pen.next;
    diag[n - 1] = diag[n - 1] + pen.end;
    off1[0] = pen.off1_end;
    for (std::size_t i = 1; i + 2 < n; ++i) off1[i] = pen.off1_inner;
    off1[n - 2] = pen.off1_end;
    std::fill(off2.begin(), off2.begin() + static_cast<std::ptrdiff_t>(n - 2), pen.off2);
}

// The factorisation and the forward substitution share one pass: each is a chain of
// dependent divisions, and interleaving the two chains lets them overlap. Rows 0 and 1 are
// peeled so that the loop body has no branches besides the pivot test.
Status factor_and_solve(std::span<double> baseline, PentadiagonalWorkspace& ws) {
    const std::size_t n = ws.diag.size();
    const double* diag = ws.diag.data();
    const double* off1 = ws.off1.data();
    const double* off2 = ws.off2.data();
    double* l_diag = ws.l_diag.data();
    double* l_sub1 = ws.l_sub1.data();
    double* l_sub2 = ws.l_sub2.data();
    double* t = ws.rhs.data();
    std::fill_n(l_sub1, n, 0.0);
    std::fill_n(l_sub2, n, 0.0);
    const LinearSolveFailed failure = not_positive_definite;

    // Pivots are tested before their square root is taken, exactly as rows arrive.
    auto pivot_of = [&](std::size_t i) { return diag[i] - l_sub1[i] * l_sub1[i] - l_sub2[i] * l_sub2[i]; };
    if (n == 0) return ok;
    double pivot = pivot_of(0);
    if (!is_finite_positive(pivot)) return failure;
    l_diag[0] = std::sqrt(pivot);
    t[0] = t[0] / l_diag[0];
    if (n >= 2) {
        l_sub1[1] = (off1[0] - l_sub1[0] * l_sub2[1]) / l_diag[0];
        pivot = pivot_of(1);
        if (!is_finite_positive(pivot)) return failure;
        l_diag[1] = std::sqrt(pivot);
        t[1] = (t[1] - l_sub1[1] * t[0]) / l_diag[1];
    }
    for (std::size_t i = 2; i < n; ++i) {
        l_sub2[i] = off2[i - 2] / l_diag[i - 2];
        l_sub1[i] = (off1[i - 1] - l_sub1[i - 1] * l_sub2[i]) / l_diag[i - 1];
        pivot = pivot_of(i);
        if (!is_finite_positive(pivot)) return failure;
        l_diag[i] = std::sqrt(pivot);
        t[i] = (t[i] - l_sub1[i] * t[i - 1] - l_sub2[i] * t[i - 2]) / l_diag[i];
    }

    // Back substitution straight into the output; nothing can fail any more.
    double* x = baseline.data();
    x[n - 1] = t[n - 1] / l_diag[n - 1];
    if (n >= 2) x[n - 2] = (t[n - 2] - l_sub1[n - 1] * x[n - 1]) / l_diag[n - 2];
    for (std::size_t i = n >= 2 ? n - 2 : 0; i-- > 0;) {
        x[i] = (t[i] - l_sub1[i + 1] * x[i + 1] - l_sub2[i + 2] * x[i + 2]) / l_diag[i];
    }
    return ok;
}

Status solve_second_order(std::span<const double> y, std::span<const double> weights,
                          std::span<double> baseline, PentadiagonalWorkspace& workspace,
                          double lambda) {
    const std::size_t n = y.size();
    if (weights.size() != n) return LengthMismatch{"weights", n, weights.size()};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (n == 0) return EmptyInput{};
    if (n < 3) {
        // No second difference exists, so the penalty vanishes.
        for (std::size_t i = 0; i < n; ++i) baseline[i] = weights[i] > 0.0 ? y[i] : 0.0;
        return ok;
    }
    if (!is_finite_positive(lambda)) return InvalidParameter{"lambda", "must be finite and positive"};

    // The bands are formed row by row inside the factorisation instead of in passes of their own.
    workspace.resize(n);
    const LaneFactor factor{workspace.l_diag.data(), workspace.l_sub1.data(), workspace.l_sub2.data(),
                            workspace.rhs.data()};
    using One = simd::ScalarPack<1>;
    if (any_of(factor_forward<One>(y.data(), weights.data(), n, second_order_penalty(n, lambda), factor))) {
        return not_positive_definite;
    }
    back_substitute<One>(n, factor, baseline.data());
    return ok;
}

}  // namespace quorvel::linalg::pentadiagonal
