// Cholesky of a symmetric positive-definite band matrix kept row by row: row i holds columns i - bandwidth .. i
// side by side, so each entry of the factor is a dot product of two contiguous runs. For the wide bands of the
// grid splines (hundreds of diagonals) this reads memory in order, where band-by-band storage strides across it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "banded.hpp"
#include "core/error.hpp"

namespace quorvel::linalg::banded {

struct RowBandedCholesky {
    std::vector<double> rows;  // entry (i, j), j <= i, at rows[i * (bandwidth + 1) + bandwidth - (i - j)]
    std::uint64_t n = 0;
    std::uint64_t bandwidth = 0;

    // The matrix of `bands` (its lower bands, as SymmetricBandedWorkspace holds them), factored in place.
    Status factor(const SymmetricBandedWorkspace& bands);
    // Solves with the factor; `rhs` and `output` may be the same storage.
    void substitute(std::span<const double> rhs, std::span<double> output) const;
};

}  // namespace quorvel::linalg::banded
