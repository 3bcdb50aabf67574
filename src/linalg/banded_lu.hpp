// LU factorisation with partial pivoting of general band matrices: the systems whose penalty is
// scaled row by row (W + lambda A D'D) and so lose their symmetry.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace quorvel::linalg::banded {

inline constexpr LinearSolveFailed singular{"matrix was singular"};

// Element (r, c), c - upper <= r <= c + lower, at ab[(kv + r - c) + c * rows] with kv = upper + lower:
// the rows above the upper band take the fill-in of row exchanges.
struct GeneralBandedWorkspace {
    std::vector<double> ab;
    std::vector<std::size_t> pivots;
    std::size_t n = 0, lower = 0, upper = 0;

    // Zeroes the matrix; capacity is kept, so equal or smaller systems never allocate.
    void reset(std::size_t order, std::size_t lower_bands, std::size_t upper_bands);
    double& at(std::size_t r, std::size_t c) { return ab[(lower + upper + r - c) + c * rows()]; }
    // The factors in place of the matrix, or `singular` for a zero or non-finite pivot.
    Status factor();
    // Solves in place with the factors of a successful `factor`; b holds n values.
    void substitute(std::span<double> b);

private:
    std::size_t rows() const { return 2 * lower + upper + 1; }
};

}  // namespace quorvel::linalg::banded
