// Whittaker systems of the model-free methods, (diag(d) + lam D'D) z = r with D the differences of one order on
// evenly spaced samples, by the band LDL' solve; the weighted smooth through chosen samples is the case d = w,
// r = w v.
#pragma once

#include <span>
#include <vector>

#include "core/error.hpp"

namespace quorvel::linalg {

struct WeightedSmoothWorkspace {
    std::vector<double> factor, rhs;
};

// order 1 to max_difference_order; diagonal and rhs of out's length; `factor` holds the factor. Fails when the
// system is not positive definite (a weighted smooth with fewer positive weights than the order).
Status penalised_solve(std::span<const double> diagonal, std::span<const double> rhs, double lam, unsigned order,
                       std::span<double> out, std::vector<double>& factor);

Status weighted_smooth(std::span<const double> v, std::span<const double> weights, double lam, unsigned order,
                       std::span<double> out, WeightedSmoothWorkspace& work);

}  // namespace quorvel::linalg
