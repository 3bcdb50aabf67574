// Gaussian elimination with partial pivoting for small dense systems, in caller storage.
#pragma once

#include <span>

#include "core/error.hpp"

namespace quorvel::linalg::dense {

// Solves matrix * x = rhs for n = rhs.size(); matrix is n*n row-major. Both
// matrix and rhs are overwritten; solution receives x. Allocates nothing.
Status solve_dense_in_place(std::span<double> matrix, std::span<double> rhs,
                            std::span<double> solution, std::span<double> pivot_row);

}  // namespace quorvel::linalg::dense
