// BiCGSTAB for the unsymmetric grid systems (drPLS' rows scaled by their penalty scales), right-preconditioned by
// a multigrid cycle of a symmetric neighbour of the system.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "grid_system.hpp"
#include "multigrid.hpp"

namespace quorvel::two_d::whittaker {

struct BicgstabWorkspace {
    std::vector<double> residual, shadow, direction, product, half, half_product, preconditioned, half_preconditioned,
        best;
    std::uint64_t steps = 0;  // steps of the last solve, each two products and two cycles

    void resize(std::size_t n);
};

// Solves A x = rhs, warm-started from x, until the recurrence residual r satisfies |r| <= tol max(|rhs|, 1) in the
// norm of limits.row_scale; after max_iter steps or a breakdown x holds the iterate of the smallest residual. With
// a multigrid, each step preconditions twice by a V-cycle of `neighbour`, a symmetric positive definite system
// near A; without one it runs unpreconditioned.
Status solve_bicgstab(const GridSystem& system, const GridSystem& neighbour, CgLimits limits,
                      std::span<const double> rhs, std::span<double> x, BicgstabWorkspace& workspace,
                      Multigrid* multigrid);

}  // namespace quorvel::two_d::whittaker
