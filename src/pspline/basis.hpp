// A B-spline basis on evenly spaced knots, kept as the nonzero band of each sample's row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace quorvel::pspline {

inline constexpr unsigned max_spline_degree = 5;

// Row i of the design matrix is zero but for values[i * (degree + 1) + a] in column first[i] + a. The knots
// are num_knots evenly spaced points from the lowest to the highest position, continued by `degree` more of the
// same spacing at either end, so every sample has degree + 1 basis functions over it.
struct SplineBasis {
    std::vector<double> knots;
    std::vector<double> values;
    std::vector<std::uint64_t> first;
    std::uint64_t coefficients = 0;
    unsigned degree = 0;

    std::size_t width() const { return degree + 1; }
};

// The basis at `positions` (any order, finite, not all equal); capacity is kept between calls.
Status build_basis(std::span<const double> positions, std::uint64_t num_knots, unsigned degree, SplineBasis& basis);

// The basis along an axis of `extent` samples at `x` mapped onto [-1, 1] (`name` in its errors), or without x at
// NumPy's linspace(-1, 1, extent) as the reference library places them; `positions` receives them.
Status build_on_axis(std::span<const double> x, std::size_t extent, const char* name, std::uint64_t num_knots,
                     std::uint64_t degree, std::vector<double>& positions, SplineBasis& basis);

// values, one per position (strictly monotone), at the middle of each basis function's support: linear between
// the nearest positions, the end value beyond them, as NumPy's interp. Methods that scale the penalty by a
// sample's quantity carry it over to the coefficients so.
void at_basis_middles(std::span<const double> positions, std::span<const double> values, const SplineBasis& basis,
                      std::vector<double>& out);

// The same for any values on these positions: basis function j takes v[at] where `end`, otherwise
// (v[next] - v[at]) / (x1 - x0) * (middle - x0) + v[at].
struct MiddlePlan {
    std::size_t at, next;
    double x0, x1, middle;
    bool end;
};
void plan_middles(std::span<const double> positions, const SplineBasis& basis, std::vector<MiddlePlan>& plan);

// The checks of num_knots and spline_degree against n samples, named as the caller names them.
Status check_spline(std::size_t n, std::uint64_t num_knots, std::uint64_t degree);

}  // namespace quorvel::pspline
