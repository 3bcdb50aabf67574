// Buffers that one Whittaker fit reuses across its iterations.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "linalg/banded_lu.hpp"
#include "linalg/pentadiagonal.hpp"
#include "uneven.hpp"

namespace quorvel {

// The weight rules measure their change while they rewrite the weights, so the weights of
// an iteration's start need no buffer of their own.
struct IterWorkspace {
    std::vector<double> weights;

    explicit IterWorkspace(std::size_t n = 0) : weights(n, 1.0) {}
    void resize(std::size_t n) { weights.resize(n, 1.0); }
};

struct WhittakerWorkspace {
    IterWorkspace iter;
    linalg::pentadiagonal::PentadiagonalWorkspace solver;
    // drPLS' system where its pivots fail, with room for row exchanges, and a right side of the rules' own.
    linalg::banded::GeneralBandedWorkspace general;
    std::vector<double> rhs;
    std::vector<double> band;  // the LDL' factor of the band solves
    // What a rule keeps from one iteration to the next besides the weights (n values per quantity).
    std::vector<double> state;
    whittaker::UnevenPenalties uneven;  // the penalties of uneven sample positions, made once per fit

    explicit WhittakerWorkspace(std::size_t n = 0) : iter(n), solver(n) {}
};

// ||w_new - w_old|| / max(||w_old||, epsilon) from the two sums of squares.
double relative_change(double diff_sq, double old_sq);

// The relative change with both sums in index order from -0.0, fed one weight pair at a time.
class WeightChange {
public:
    void add(double old_weight, double new_weight) {
        const double d = new_weight - old_weight;
        diff_sq_ = diff_sq_ + d * d;
        old_sq_ = old_sq_ + old_weight * old_weight;
    }
    double value() const;

private:
    double diff_sq_ = -0.0;
    double old_sq_ = -0.0;
};

double relative_weight_change(std::span<const double> w_old, std::span<const double> w_new);

// Rewrites weights[i] = next(i) in index order and measures the change in the same pass,
// so no copy of the old weights is needed.
template <class Next>
double rewrite_weights(std::span<double> weights, Next next) {
    WeightChange change;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const double old_weight = weights[i];
        weights[i] = next(i);
        change.add(old_weight, weights[i]);
    }
    return change.value();
}

}  // namespace quorvel
