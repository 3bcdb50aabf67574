// Multigrid-preconditioned conjugate gradients for the weighted grid smoothing system.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "multigrid.hpp"
#include "params.hpp"

namespace quorvel::two_d::whittaker {

struct PreconditionedWorkspace {
    std::vector<double> residual, preconditioned, direction, product;
    Multigrid multigrid;
    std::uint64_t steps = 0;  // conjugate-gradient steps of the last solve

    // Allocation-free when the shape, the ratio of the smoothing weights and the coarsening are unchanged.
    void resize(const GridSystem& system, Coarsening coarsening = Coarsening::averaged);
};

// Solves the system as solve_weighted_system does, warm-started from x, to the same stopping rule:
// the recurrence residual r satisfies |r| <= tol max(|rhs|, 1) within max_iter steps, or x holds
// the last iterate. The system needs at least 3 rows and 3 columns, and rhs and x its size; the
// workspace is resized to it if needed.
Status solve_preconditioned(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                            std::span<double> x, PreconditionedWorkspace& workspace,
                            Coarsening coarsening = Coarsening::averaged);

// The same after checking the shape, the lengths and the smoothing weights the parameters give.
Status solve_preconditioned(std::uint64_t rows, std::uint64_t cols, const Whittaker2DParams& params,
                            std::span<const double> weights, std::span<const double> rhs, std::span<double> x,
                            PreconditionedWorkspace& workspace);

}  // namespace quorvel::two_d::whittaker
