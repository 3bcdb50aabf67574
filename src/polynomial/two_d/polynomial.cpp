#include "polynomial.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "linalg/dense.hpp"

namespace quorvel::two_d::polynomial {
namespace {

void fill_powers(std::vector<double>& powers, double coordinate) {
    powers[0] = 1.0;
    for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = powers[k - 1] * coordinate;
}

// (order + 1)^2, or nullopt when it does not fit in 64 bits.
std::optional<std::uint64_t> term_count(std::uint64_t order) {
    std::uint64_t m = 0, t = 0;
    if (__builtin_add_overflow(order, 1, &m) || __builtin_mul_overflow(m, m, &t)) return std::nullopt;
    return t;
}

}  // namespace

void SurfacePolynomialWorkspace::ensure_basis(std::uint64_t rows, std::uint64_t cols, std::uint64_t order,
                                              SurfaceAxes axes) {
    const std::array<std::uint64_t, 3> shape{rows, cols, order};
    if (axes.even() && cached_shape == shape) return;
    const std::uint64_t m = order + 1, t = m * m;
    terms.clear();
    for (std::uint64_t a = 0; a < m; ++a) {
        for (std::uint64_t b = 0; b < m; ++b) terms.emplace_back(a, b);
    }
    design.resize(rows * cols * t, 0.0);
    col_powers.resize(m, 0.0);
    row_powers.resize(m, 0.0);
    normal_matrix.resize(t * t, 0.0);
    rhs.resize(t, 0.0);
    coefficients.resize(t, 0.0);
    pivot_row.resize(t, 0.0);
    for (std::uint64_t r = 0; r < rows; ++r) {
        fill_powers(row_powers, axes.rows ? axes.rows->at(r) : scaled_coordinate(r, rows));
        for (std::uint64_t c = 0; c < cols; ++c) {
            fill_powers(col_powers, axes.cols ? axes.cols->at(c) : scaled_coordinate(c, cols));
            double* row = design.data() + (r * cols + c) * t;
            for (std::uint64_t j = 0; j < t; ++j) row[j] = col_powers[terms[j].first] * row_powers[terms[j].second];
        }
    }
    cached_shape = axes.even() ? std::optional(shape) : std::nullopt;
}

namespace {

// The fit on the basis the workspace holds.
Status fit_weighted(std::span<const double> data, std::span<const double> weights, std::span<double> output,
                    SurfacePolynomialWorkspace& ws) {
    const std::size_t t = ws.rhs.size();
    std::fill(ws.normal_matrix.begin(), ws.normal_matrix.end(), 0.0);
    std::fill(ws.rhs.begin(), ws.rhs.end(), 0.0);

    for (std::size_t s = 0; s < data.size(); ++s) {
        const double w = std::fmax(weights[s], 0.0);
        if (w <= epsilon) continue;
        const double* d = ws.design.data() + s * t;
        const double wy = w * data[s];
        for (std::size_t i = 0; i < t; ++i) {
            ws.rhs[i] = ws.rhs[i] + wy * d[i];
            const double q = d[i] * w;
            for (std::size_t j = 0; j < t; ++j) ws.normal_matrix[i * t + j] = ws.normal_matrix[i * t + j] + q * d[j];
        }
    }
    if (auto solved = linalg::dense::solve_dense_in_place(ws.normal_matrix, ws.rhs, ws.coefficients, ws.pivot_row);
        !solved) {
        return solved;
    }
    for (std::size_t s = 0; s < output.size(); ++s) {
        const double* d = ws.design.data() + s * t;
        double sum = -0.0;
        for (std::size_t j = 0; j < t; ++j) sum = sum + ws.coefficients[j] * d[j];
        output[s] = sum;
    }
    return ok;
}

}  // namespace

Status fit_weighted_surface_with_workspace(std::span<const double> data, std::uint64_t rows, std::uint64_t cols,
                                           std::span<const double> weights, std::uint64_t order,
                                           std::span<double> output, SurfacePolynomialWorkspace& ws) {
    if (weights.size() != data.size()) return LengthMismatch{"weights", data.size(), weights.size()};
    ws.ensure_basis(rows, cols, order);
    return fit_weighted(data, weights, output, ws);
}

namespace {

Result<FitReport> fit_into(const Grid& data, std::uint64_t order, Mask mask, const GridOut& output,
                           SurfaceAxes axes = {}) {
    if (!same_shape(data, output)) return output_mismatch(data, output);
    const auto t = term_count(order);
    if (!t) return InvalidParameter{"order", "is too large"};
    const std::uint64_t n = data.rows * data.cols;
    if (!mask.empty() && mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (const std::uint64_t used = used_count(n, mask); *t > used) return InputTooShort{used, "two_d_polynomial", *t};

    std::vector<double> weights(n, 1.0);
    for (std::size_t s = 0; s < n; ++s) {
        if (is_masked_out(mask, s)) weights[s] = 0.0;
    }
    SurfacePolynomialWorkspace workspace;
    workspace.ensure_basis(data.rows, data.cols, order, axes);
    if (auto fitted = fit_weighted(data.data, weights, output.data, workspace);
        !fitted) {
        return fitted.error();
    }
    return single_pass;
}

}  // namespace

Result<FitReport> poly_into(const Grid& data, std::uint64_t order, const GridOut& output) {
    return fit_into(data, order, Mask{}, output);
}

Result<FitReport> poly_masked_into(const Grid& data, std::uint64_t order, Mask mask, const GridOut& output) {
    return fit_into(data, order, mask, output);
}

namespace {

// The caller's positions along one axis of n points, mapped; none when the caller gave none.
Result<std::optional<Abscissa>> axis_of(std::span<const double> positions, std::uint64_t n, const char* name) {
    if (positions.empty()) return std::optional<Abscissa>();
    auto mapped = mapped_abscissa(positions, n, name);
    if (!mapped) return mapped.error();
    return std::optional<Abscissa>(mapped.value());
}

}  // namespace

Result<FitReport> poly_on_axes_into(const Grid& data, std::uint64_t order, Mask mask, std::span<const double> x,
                                    std::span<const double> z, const GridOut& output) {
    const auto along_rows = axis_of(x, data.rows, "x");
    if (!along_rows) return along_rows.error();
    const auto along_cols = axis_of(z, data.cols, "z");
    if (!along_cols) return along_cols.error();
    const auto& rows = along_rows.value();
    const auto& cols = along_cols.value();
    return fit_into(data, order, mask, output, {rows ? &*rows : nullptr, cols ? &*cols : nullptr});
}

Result<Fit> poly(const Grid& data, std::uint64_t order) {
    const auto size = validate_shape(data.rows, data.cols);
    if (!size) return size.error();
    return fit_allocated(size.value(), [&](std::span<double> output) {
        return poly_into(data, order, GridOut{output, data.rows, data.cols});
    });
}

}  // namespace quorvel::two_d::polynomial
