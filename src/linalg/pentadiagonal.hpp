// Banded Cholesky solve of the weighted second-difference system (W + lambda D'D) z = W y.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "second_order_penalty.hpp"

namespace quorvel::linalg::pentadiagonal {

struct PentadiagonalWorkspace {
    std::vector<double> diag, off1, off2;
    std::vector<double> l_diag, l_sub1, l_sub2;
    std::vector<double> rhs;

    explicit PentadiagonalWorkspace(std::size_t n = 0) { resize(n); }
    // Shrinking keeps capacity, so a workspace sized once serves every later solve.
    void resize(std::size_t n);
};

inline constexpr LinearSolveFailed not_positive_definite{"matrix was not positive definite"};

Status solve_second_order(std::span<const double> y, std::span<const double> weights,
                          std::span<double> baseline, PentadiagonalWorkspace& workspace,
                          double lambda);

void fill_second_order_bands(std::span<const double> weights, std::span<double> diag,
                             std::span<double> off1, std::span<double> off2, double lambda);

Status factor_and_solve(std::span<double> baseline, PentadiagonalWorkspace& workspace);

}  // namespace quorvel::linalg::pentadiagonal
