#include "pentadiagonal.hpp"

#include <algorithm>
#include <cmath>

#include "../numeric.hpp"

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

void fill_second_order_bands(std::span<const double> weights, std::span<double> diag,
                             std::span<double> off1, std::span<double> off2, double lambda) {
    const std::size_t n = weights.size();
    std::copy(weights.begin(), weights.end(), diag.begin());
    if (n == 3) {
        // The exact second-difference penalty of one difference row (1, -2, 1):
        // a constant or a straight line costs nothing.
        const double lambda4 = lambda * 4.0;
        diag[0] = diag[0] + lambda;
        diag[1] = diag[1] + lambda4;
        diag[2] = diag[2] + lambda;
    } else {
        const double lambda5 = lambda * 5.0;
        const double lambda6 = lambda * 6.0;
        diag[0] = diag[0] + lambda;
        diag[1] = diag[1] + lambda5;
        for (std::size_t i = 2; i + 2 < n; ++i) diag[i] = diag[i] + lambda6;
        diag[n - 2] = diag[n - 2] + lambda5;
        diag[n - 1] = diag[n - 1] + lambda;
    }
    const double minus2 = -2.0 * lambda;
    const double minus4 = -4.0 * lambda;
    off1[0] = minus2;
    for (std::size_t i = 1; i + 2 < n; ++i) off1[i] = minus4;
    off1[n - 2] = minus2;
    std::fill(off2.begin(), off2.begin() + static_cast<std::ptrdiff_t>(n - 2), lambda);
}

Status factor_and_solve(std::span<double> baseline, PentadiagonalWorkspace& ws) {
    const std::size_t n = ws.diag.size();
    std::fill(ws.l_sub1.begin(), ws.l_sub1.end(), 0.0);
    std::fill(ws.l_sub2.begin(), ws.l_sub2.end(), 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= 2) ws.l_sub2[i] = ws.off2[i - 2] / ws.l_diag[i - 2];
        if (i >= 1) {
            ws.l_sub1[i] = (ws.off1[i - 1] - ws.l_sub1[i - 1] * ws.l_sub2[i]) / ws.l_diag[i - 1];
        }
        const double pivot =
            ws.diag[i] - ws.l_sub1[i] * ws.l_sub1[i] - ws.l_sub2[i] * ws.l_sub2[i];
        if (!is_finite_positive(pivot)) {
            return LinearSolveFailed{"matrix was not positive definite"};
        }
        ws.l_diag[i] = std::sqrt(pivot);
    }

    auto& t = ws.rhs;
    t[0] = t[0] / ws.l_diag[0];
    if (n >= 2) t[1] = (t[1] - ws.l_sub1[1] * t[0]) / ws.l_diag[1];
    for (std::size_t i = 2; i < n; ++i) {
        t[i] = (t[i] - ws.l_sub1[i] * t[i - 1] - ws.l_sub2[i] * t[i - 2]) / ws.l_diag[i];
    }

    for (std::size_t i = n; i-- > 0;) {
        double value = t[i];
        if (i + 1 < n) value = value - ws.l_sub1[i + 1] * t[i + 1];
        if (i + 2 < n) value = value - ws.l_sub2[i + 2] * t[i + 2];
        t[i] = value / ws.l_diag[i];
    }
    std::copy(t.begin(), t.end(), baseline.begin());
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

    workspace.resize(n);
    fill_second_order_bands(weights, workspace.diag, workspace.off1, workspace.off2, lambda);
    for (std::size_t i = 0; i < n; ++i) workspace.rhs[i] = weights[i] * y[i];
    return factor_and_solve(baseline, workspace);
}

}  // namespace quorvel::linalg::pentadiagonal
