#include "polynomial.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/numeric.hpp"
#include "linalg/dense.hpp"
#include "passes.hpp"

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

// Calls fill(start, count, x) and then visit(start, x, count) for blocks of the n samples.
template <class Fill, class Visit>
void for_each_block(std::size_t n, Fill fill, Visit visit) {
    constexpr std::size_t block = 256;
    double x[block];
    for (std::size_t start = 0; start < n; start += block) {
        const std::size_t count = std::min(block, n - start);
        fill(start, count, x);
        visit(start, x, count);
    }
}

// Calls visit(start, x, count) with x[j] = scaled_coordinate(start + j, n), block by block.
template <class Visit>
void for_each_coordinate_block(std::size_t n, Visit visit) {
    if (n == 1) {
        const double x = scaled_coordinate(0, 1);
        visit(std::size_t{0}, &x, std::size_t{1});
        return;
    }
    const auto coordinates = passes_for_this_cpu().coordinates;
    for_each_block(n, [&](std::size_t start, std::size_t count, double* x) { coordinates(start, count, n, x); },
                   visit);
}

void evaluate_block(std::span<const double> c, const double* x, double* o, std::size_t count) {
    switch (c.size()) {
        case 1:
            for (std::size_t j = 0; j < count; ++j) o[j] = c[0];
            break;
        case 2:
            for (std::size_t j = 0; j < count; ++j) o[j] = c[0] + c[1] * x[j];
            break;
        case 3:
            for (std::size_t j = 0; j < count; ++j) o[j] = c[0] + x[j] * (c[1] + c[2] * x[j]);
            break;
        default:
            for (std::size_t j = 0; j < count; ++j) {
                double acc = 0.0;
                for (std::size_t k = c.size(); k-- > 0;) acc = x[j] * acc + c[k];
                o[j] = acc;
            }
    }
}

// The defining loop for any order over the samples i with used(i) at coordinates coordinate(i):
// every product rounded, every sum in sample order from 0.0.
template <class Used, class Coordinate>
void accumulate_normal_equations(std::span<const double> y, Used used, Coordinate coordinate,
                                 PolynomialFitWorkspace& ws) {
    const std::size_t m = ws.rhs.size();
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!used(i)) continue;
        const double x = coordinate(i);
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

void accumulate_low_order(std::span<const double> y, PolynomialFitWorkspace& ws) {
    const std::size_t n = y.size();
    const LowOrderSums s = n >= 2 ? passes_for_this_cpu().sums(y.data(), n) : low_order_sums(y.data(), n);
    const double rhs[3] = {s.y, s.yx, s.yxx};
    const double sums[5] = {static_cast<double>(n), s.x, s.xx, s.xxx, s.xxxx};
    const std::size_t m = ws.rhs.size();
    for (std::size_t a = 0; a < m; ++a) {
        ws.rhs[a] = rhs[a];
        for (std::size_t b = 0; b < m; ++b) ws.normal_matrix[a * m + b] = sums[a + b];
    }
}

Status validate(std::span<const double> y, std::uint64_t order, Mask mask, std::span<double> out) {
    const std::size_t n = y.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_masked_out(mask, i) && is_non_finite(y[i])) return NonFiniteInput{i};
    }
    if (out.size() != n) return LengthMismatch{"baseline", n, out.size()};
    if (order >= n) {
        const std::uint64_t min = order == std::numeric_limits<std::uint64_t>::max() ? order : order + 1;
        return InputTooShort{n, "polynomial", min};
    }
    return ok;
}

Status solve(PolynomialFitWorkspace& ws) {
    return solve_dense_in_place(ws.normal_matrix, ws.rhs, ws.coefficients, ws.pivot_row);
}

Result<FitReport> fit(std::span<const double> y, std::uint64_t order, Mask mask, std::span<double> out) {
    PolynomialFitWorkspace ws(order);
    const auto index = [n = y.size()](std::size_t i) { return scaled_coordinate(i, n); };
    if (!mask.empty()) {
        accumulate_normal_equations(y, [&](std::size_t i) { return mask[i]; }, index, ws);
    } else if (order <= 2) {
        accumulate_low_order(y, ws);
    } else {
        accumulate_normal_equations(y, [](std::size_t) { return true; }, index, ws);
    }
    if (auto solved = solve(ws); !solved) return solved.error();
    evaluate_polynomial_coefficients(ws.coefficients, out);
    return single_pass;
}

Result<FitReport> fit_on(const Abscissa& abscissa, std::span<const double> y, std::uint64_t order, Mask mask,
                         std::span<double> out) {
    PolynomialFitWorkspace ws(order);
    const auto used = [&](std::size_t i) { return mask.empty() || mask[i]; };
    accumulate_normal_equations(y, used, [&](std::size_t i) { return abscissa.at(i); }, ws);
    if (auto solved = solve(ws); !solved) return solved.error();
    const auto mapped = [&](std::size_t start, std::size_t count, double* x) {
        for (std::size_t j = 0; j < count; ++j) x[j] = abscissa.at(start + j);
    };
    for_each_block(out.size(), mapped, [&](std::size_t start, const double* x, std::size_t count) {
        evaluate_block(ws.coefficients, x, out.data() + start, count);
    });
    return single_pass;
}

Status validate_unmasked(std::span<const double> y, std::uint64_t order, std::span<double> out) {
    if (y.empty()) return EmptyInput{};
    return validate(y, order, {}, out);
}

// The checks shared by the masked fits: the mask's length before the data, its count after.
Status validate_masked(std::span<const double> y, std::uint64_t order, Mask mask, std::span<double> out) {
    if (y.empty()) return EmptyInput{};
    if (mask.size() != y.size()) return LengthMismatch{"mask", y.size(), mask.size()};
    if (auto valid = validate(y, order, mask, out); !valid) return valid.error();
    if (static_cast<std::uint64_t>(std::count(mask.begin(), mask.end(), true)) <= order) {
        return InvalidParameter{"mask", "must keep more samples than the polynomial order"};
    }
    return ok;
}

}  // namespace

PolynomialFitWorkspace::PolynomialFitWorkspace(std::uint64_t order)
    : normal_matrix((order + 1) * (order + 1), 0.0),
      rhs(order + 1, 0.0),
      powers(order + 1, 0.0),
      coefficients(order + 1, 0.0),
      pivot_row(order + 1, 0.0) {}

void evaluate_polynomial_coefficients(std::span<const double> c, std::span<double> out) {
    for_each_coordinate_block(out.size(), [&](std::size_t start, const double* x, std::size_t count) {
        evaluate_block(c, x, out.data() + start, count);
    });
}

Result<FitReport> poly_into(std::span<const double> y, std::uint64_t order, std::span<double> out) {
    if (auto valid = validate_unmasked(y, order, out); !valid) return valid.error();
    return fit(y, order, {}, out);
}

Result<FitReport> poly_masked_into(std::span<const double> y, std::uint64_t order, Mask mask,
                                   std::span<double> out) {
    if (auto valid = validate_masked(y, order, mask, out); !valid) return valid.error();
    return fit(y, order, mask, out);
}

Result<FitReport> poly_on_x_into(std::span<const double> y, std::span<const double> x, std::uint64_t order,
                                 Mask mask, std::span<double> out) {
    const auto valid = mask.empty() ? validate_unmasked(y, order, out) : validate_masked(y, order, mask, out);
    if (!valid) return valid.error();
    const auto abscissa = mapped_abscissa(x, y.size());
    if (!abscissa) return abscissa.error();
    return fit_on(abscissa.value(), y, order, mask, out);
}

Result<Fit> poly(std::span<const double> y, std::uint64_t order) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) { return poly_into(y, order, baseline); });
}

}  // namespace quorvel::polynomial
