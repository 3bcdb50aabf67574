// Cholesky solve of symmetric positive-definite band matrices in band storage.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace quorvel::linalg::banded {

inline constexpr LinearSolveFailed not_positive_definite{"matrix was not positive definite"};

// Band d (0 <= d <= bandwidth) holds element (k + d, k) at bands[d * n + k].
struct SymmetricBandedWorkspace {
    std::vector<double> bands;
    std::vector<double> intermediate;
    std::uint64_t n = 0;
    std::uint64_t bandwidth = 0;

    // Zeroes every band; capacity is kept, so equal or smaller systems never allocate.
    void reset(std::uint64_t order, std::uint64_t band_count);
    // Consumes the matrix: `bands` holds the factor afterwards, so refill before the next solve.
    Status solve_spd(std::span<const double> rhs, std::span<double> output);
    // The two halves of solve_spd: the Cholesky factor in place of the matrix, then any number
    // of solves with it. `substitute` expects a successful `factor` and lengths of n.
    Status factor();
    void substitute(std::span<const double> rhs, std::span<double> output);
};

}  // namespace quorvel::linalg::banded
