// Weighted least-squares surfaces of the terms T_a(x) T_b(z) by their normal equations, row by row: the Gram
// matrix from the weighted moments of the products (T_a T_a' = (T_{a+a'} + T_|a-a'|) / 2 along each axis), the
// right-hand side and the surface through the rows' sums along z, so nothing is stored per point but what the
// conjugate gradients of ill-conditioned ones keep: a residual and a product.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "chebyshev_system.hpp"
#include "scaled_system.hpp"

namespace quorvel::polynomial {

struct SurfaceSystem {
    std::uint64_t most_x = 0, most_z = 0;  // the highest powers along each axis
    ScaledSystem solver;
    std::vector<double> coefficients, along_x, row_sums, row_coefficients;
    bool refine = false;  // the Gram matrix is too ill-conditioned for one solve of the normal equations
    std::vector<double> residual, product, gradient, direction, preconditioned;
};

using Terms = std::span<const std::array<std::uint64_t, 2>>;

// x: one position per row, z: one per column, weights and values row-major; false when the Gram matrix cannot be
// factorised even with a ridge for a preconditioner.
bool factorise_surface(std::span<const double> x, std::span<const double> z, Terms terms,
                       std::span<const double> weights, SurfaceSystem& system);
void solve_surface(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                   std::span<const double> weights, std::span<const double> v);
// out = the surface of the last solve at every point; with `used`, its change over the used points.
Change evaluate_surface(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                        std::span<double> out, std::span<const double> used = {});

}  // namespace quorvel::polynomial
