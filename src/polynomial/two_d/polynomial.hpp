// Least-squares tensor-product polynomial surface over coordinates scaled to [-1, 1].
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/abscissa.hpp"
#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"
#include "core/mask.hpp"

namespace quorvel::two_d::polynomial {

// The caller's positions along the rows (axis 0) and along the columns (axis 1); a null axis is
// evenly spaced.
struct SurfaceAxes {
    const Abscissa* rows = nullptr;
    const Abscissa* cols = nullptr;

    bool even() const { return rows == nullptr && cols == nullptr; }
};

struct SurfacePolynomialWorkspace {
    std::optional<std::array<std::uint64_t, 3>> cached_shape;  // rows, cols, order
    std::vector<std::pair<std::uint64_t, std::uint64_t>> terms;  // (power of x, power of y)
    std::vector<double> design;  // sample-major: the t term values of sample s start at s * t
    std::vector<double> col_powers;
    std::vector<double> row_powers;
    std::vector<double> normal_matrix;
    std::vector<double> rhs;
    std::vector<double> coefficients;
    std::vector<double> pivot_row;

    // Builds the terms and the design matrix unless they are cached for this shape on even axes.
    void ensure_basis(std::uint64_t rows, std::uint64_t cols, std::uint64_t order, SurfaceAxes axes = {});
};

Result<Fit> poly(const Grid& data, std::uint64_t order);
Result<FitReport> poly_into(const Grid& data, std::uint64_t order, const GridOut& output);
// Masked-out samples take no part in the fit (their data is never read) but get fitted values.
Result<FitReport> poly_masked_into(const Grid& data, std::uint64_t order, Mask mask, const GridOut& output);

// The fit on the caller's positions: x along the rows (one per row), z along the columns (one per
// column), each mapped onto [-1, 1]; an empty span leaves that axis evenly spaced.
Result<FitReport> poly_on_axes_into(const Grid& data, std::uint64_t order, Mask mask, std::span<const double> x,
                                    std::span<const double> z, const GridOut& output);

// Samples whose weight is NaN or at most epsilon take no part in the fit.
Status fit_weighted_surface_with_workspace(std::span<const double> data, std::uint64_t rows, std::uint64_t cols,
                                           std::span<const double> weights, std::uint64_t order,
                                           std::span<double> output, SurfacePolynomialWorkspace& workspace);

}  // namespace quorvel::two_d::polynomial
