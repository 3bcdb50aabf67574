// A small symmetric positive definite system (a Gram matrix) scaled to unit diagonal, factorised by Cholesky,
// and kept only when its condition leaves the normal equations accurate.
#pragma once

#include <cstddef>
#include <vector>

namespace quorvel::polynomial {

struct ScaledSystem {
    std::size_t size = 0;
    std::vector<double> factor;  // lower Cholesky factor of the scaled matrix
    std::vector<double> scale;   // 1 / sqrt of the matrix's diagonal
    double condition = 0.0;      // 1-norm condition of the scaled matrix, once factorised
};

// `gram` (size x size, upper triangle read; scaled in place), with `ridge` added to the scaled diagonal; false
// when it is not positive definite or its 1-norm condition after scaling exceeds `most_condition`.
bool factorise_scaled(std::vector<double>& gram, std::size_t size, ScaledSystem& system, double most_condition,
                      double ridge = 0.0);

// rhs becomes the solution.
void solve_scaled(const ScaledSystem& system, double* rhs);

}  // namespace quorvel::polynomial
