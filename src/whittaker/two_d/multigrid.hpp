// A multigrid V-cycle for the weighted grid smoothing system, used as a preconditioner.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "galerkin_weights.hpp"
#include "grid_system.hpp"
#include "grid_transfer.hpp"
#include "line_smoother.hpp"
#include "linalg/banded.hpp"
#include "uneven_axes.hpp"

namespace quorvel::two_d::whittaker {

// How the coarser grids take the weights: averaged through the cubic interpolation, or as the Galerkin
// product of a linear one (galerkin_weights.hpp), for weights that differ by decades between neighbours.
enum class Coarsening { averaged, galerkin };

// Point smoothing (Chebyshev on the diagonal) on even axes; alternating lines, and every long axis halved, where an
// axis is uneven and the weights are averaged.
enum class Smoother { points, lines };

// One grid of the hierarchy. Each coarser grid carries the same kind of system,
// W + lambda_r T(rows) (x) I + lambda_c I (x) T(cols) + first differences, with averaged weights, the
// smoothing weight of every halved axis divided by 4^order (differences of order d scale as h^-d) and its
// first-difference weight by 4, all pairs joined; under Galerkin coarsening the weights are couplings instead. Which axes are halved depends on the grid's shape and on the
// ratio of the two axes' smoothing strengths.
struct MultigridLevel {
    std::uint64_t rows = 0;
    std::uint64_t cols = 0;
    double lambda_r = 0.0;
    double lambda_c = 0.0;
    unsigned order_r = 2, order_c = 2;
    FirstDifferences first{};
    GridTransfer down;  // to the next coarser grid; unused on the coarsest
    std::vector<double> weights, inverse_diagonal;  // weights: the middle couplings under Galerkin coarsening
    std::vector<double> couplings;  // coupling_count per point on the coarser grids of Galerkin coarsening
    std::uint32_t coupled = 0;      // the offsets with a coupling (coupled_slots)
    std::vector<double> x, b;  // the cycle's solution and right-hand side; empty on the finest grid
    std::vector<double> residual, direction, product;  // smoothing
    std::vector<double> scratch;  // between the two axes of a transfer; the coarsest grid's solve
    UnevenGrid uneven;  // the axes rediscretised from the finest grid's positions, where uneven
    LineSmoother lines;  // under Smoother::lines; unused on the coarsest grid

    GridSystem system() const {
        return {rows, cols, lambda_r, lambda_c, weights, first, order_r, order_c, uneven.active ? &uneven : nullptr};
    }
};

struct Multigrid {
    std::vector<MultigridLevel> levels;
    linalg::banded::SymmetricBandedWorkspace banded;
    double coarsest_scale = 1.0;
    Coarsening coarsening = Coarsening::averaged;
    Smoother smoother = Smoother::points;
    UnevenGrid transposed;  // the coarsest grid's axes swapped for its banded solve

    // Builds the grids for the system's shape and smoothing weights (its weights are not read);
    // allocation-free when the plan of grids is unchanged.
    void resize(const GridSystem& system, Coarsening kind = Coarsening::averaged);
    bool planned_for(const GridSystem& system, Coarsening kind) const;
    // Takes the weights and first differences of the system given to resize (which must be symmetric: no
    // row factor), and factors the coarsest system; call before apply.
    Status setup(const GridSystem& system);
    // z = M^-1 r with M symmetric positive definite: one V-cycle.
    void apply(std::span<const double> r, std::span<double> z);
};

}  // namespace quorvel::two_d::whittaker
