// The weighted grid smoothing system W + lambda_r T(rows) (x) I + lambda_c I (x) T(cols), as one value
// that the banded solve, the conjugate gradients and every multigrid level take.
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "linalg/banded.hpp"

namespace quorvel::two_d::whittaker {

struct GridSystem {
    std::uint64_t rows;
    std::uint64_t cols;
    double lambda_r;  // across rows
    double lambda_c;  // along each row
    std::span<const double> weights;  // rows * cols, row-major
};

// Conjugate gradients stop once |residual| <= tol max(|rhs|, 1), or after max_iter steps. A system whose
// rows were divided by row_scale (when given) measures both after multiplying them back: the rows it
// divided most would otherwise outweigh all others in either norm.
struct CgLimits {
    std::uint64_t max_iter;
    double tol;
    std::span<const double> row_scale{};
};

// Solves A x = rhs: a banded Cholesky solve for small grids, otherwise conjugate gradients
// warm-started from x.
Status solve_weighted_system(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                             std::span<double> x, std::span<double> residual, std::span<double> direction,
                             std::span<double> product, linalg::banded::SymmetricBandedWorkspace& banded,
                             bool allow_direct);

// A in band storage, bandwidth 2 cols, for banded.solve_spd or banded.factor.
void fill_system_bands(const GridSystem& system, linalg::banded::SymmetricBandedWorkspace& banded);

// out = A v without forming A.
void apply_system(const GridSystem& system, std::span<const double> v, std::span<double> out);

// Where both conjugate-gradient solvers start: residual = rhs - A x (product holds A x), with
// ||rhs|| never below 1 so that a small right-hand side makes the tolerance absolute.
struct StartingResidual {
    double bnorm, rr;
};
StartingResidual starting_residual(const GridSystem& system, std::span<const double> rhs, std::span<const double> x,
                                   std::span<double> residual, std::span<double> product,
                                   std::span<const double> row_scale = {});

// The square of v, the value of row k, in the norm of `row_scale` (see CgLimits).
inline double square_in(std::span<const double> row_scale, std::size_t k, double v) {
    if (row_scale.empty()) return v * v;
    const double scaled = v * row_scale[k];
    return scaled * scaled;
}

}  // namespace quorvel::two_d::whittaker
