// Buffers that one Whittaker fit reuses across its iterations.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "linalg/pentadiagonal.hpp"

namespace quorvel {

struct IterWorkspace {
    std::vector<double> weights;
    std::vector<double> previous_weights;

    explicit IterWorkspace(std::size_t n = 0) : weights(n, 1.0), previous_weights(n, 1.0) {}
    void resize(std::size_t n) {
        weights.resize(n, 1.0);
        previous_weights.resize(n, 1.0);
    }
};

struct WhittakerWorkspace {
    IterWorkspace iter;
    linalg::pentadiagonal::PentadiagonalWorkspace solver;

    explicit WhittakerWorkspace(std::size_t n = 0) : iter(n), solver(n) {}
};

// ||w_new - w_old|| / max(||w_old||, epsilon), both sums in index order from -0.0.
double relative_weight_change(std::span<const double> w_old, std::span<const double> w_new);

}  // namespace quorvel
