#include "polynomial.hpp"

#include <algorithm>
#include <limits>

#include "../linalg/dense.hpp"
#include "../numeric.hpp"

namespace quorvel::polynomial {
namespace {

// The shared elimination, reporting its failure in terms of this fit.
Status solve_dense_in_place(std::span<double> matrix, std::span<double> rhs,
                            std::span<double> solution, std::span<double> pivot_row) {
    if (!linalg::dense::solve_dense_in_place(matrix, rhs, solution, pivot_row)) {
        return LinearSolveFailed{"singular polynomial normal equations"};
    }
    return ok;
}

void accumulate_normal_equations(std::span<const double> y, Mask mask, PolynomialFitWorkspace& ws) {
    const std::size_t m = ws.rhs.size();
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (is_masked_out(mask, i)) continue;
        const double x = scaled_coordinate(i, y.size());
        ws.powers[0] = 1.0;
        for (std::size_t k = 1; k < m; ++k) ws.powers[k] = ws.powers[k - 1] * x;
        for (std::size_t a = 0; a < m; ++a) {
            ws.rhs[a] = y[i] * ws.powers[a] + ws.rhs[a];
            for (std::size_t b = 0; b < m; ++b) {
                ws.normal_matrix[a * m + b] = ws.powers[a] * ws.powers[b] + ws.normal_matrix[a * m + b];
            }
        }
    }
}

}  // namespace

PolynomialFitWorkspace::PolynomialFitWorkspace(std::uint64_t order)
    : normal_matrix((order + 1) * (order + 1), 0.0),
      rhs(order + 1, 0.0),
      powers(order + 1, 0.0),
      coefficients(order + 1, 0.0),
      pivot_row(order + 1, 0.0) {}

void evaluate_polynomial_coefficients(std::span<const double> c, std::span<double> out) {
    const std::size_t n = out.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double x = scaled_coordinate(i, n);
        switch (c.size()) {
            case 1: out[i] = c[0]; break;
            case 2: out[i] = c[0] + c[1] * x; break;
            case 3: out[i] = c[0] + x * (c[1] + c[2] * x); break;
            default: {
                double acc = 0.0;
                for (std::size_t k = c.size(); k-- > 0;) acc = x * acc + c[k];
                out[i] = acc;
            }
        }
    }
}

namespace {

Result<FitReport> fit_into(std::span<const double> y, std::uint64_t order, Mask mask, std::span<double> out) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_masked_out(mask, i) && is_non_finite(y[i])) return NonFiniteInput{i};
    }
    if (out.size() != n) return LengthMismatch{"baseline", n, out.size()};
    if (!mask.empty() && mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (const std::size_t used = used_count(n, mask); order >= used) {
        const std::uint64_t min = order == std::numeric_limits<std::uint64_t>::max() ? order : order + 1;
        return InputTooShort{used, "polynomial", min};
    }

    PolynomialFitWorkspace ws(order);
    accumulate_normal_equations(y, mask, ws);
    if (auto solved = solve_dense_in_place(ws.normal_matrix, ws.rhs, ws.coefficients, ws.pivot_row);
        !solved) {
        return solved.error();
    }
    evaluate_polynomial_coefficients(ws.coefficients, out);
    return single_pass;
}

}  // namespace

Result<FitReport> poly_into(std::span<const double> y, std::uint64_t order, std::span<double> out) {
    return fit_into(y, order, Mask{}, out);
}

Result<FitReport> poly_masked_into(std::span<const double> y, std::uint64_t order, Mask mask,
                                   std::span<double> out) {
    return fit_into(y, order, mask, out);
}

Result<Fit> poly(std::span<const double> y, std::uint64_t order) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) { return poly_into(y, order, baseline); });
}

}  // namespace quorvel::polynomial
