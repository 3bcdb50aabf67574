// Polynomials under non-quadratic costs (Mazet et al. 2005): least squares near the baseline, a bounded or
// linear cost for the residuals of peaks, minimised by half-quadratic iterations. Beyond the threshold s the indec
// costs (Liu et al., Appl. Spectrosc. 69 (2015) 834) fall again, as s³ / (2 |r|), so tall peaks pull the least.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit_setup.hpp"

namespace quorvel::polynomial {

enum class CostFunction : std::uint8_t {
    AsymmetricTruncatedQuadratic,
    SymmetricTruncatedQuadratic,
    AsymmetricHuber,
    SymmetricHuber,
    AsymmetricIndec,
    SymmetricIndec,
};

struct PenalizedPolyParams {
    IterationLimits limits;
    CostFunction cost;
    double threshold;     // where the cost leaves the quadratic; NaN: a tenth of the used data's deviation
    double alpha_factor;  // in (0, 1): twice the half-quadratic's α
};

// Each iteration fits y + d, where d moves the residual r = y - fit by the cost's half-quadratic auxiliary
// variable; stops once the fit's relative change is below tol.
Result<FitReport> penalized_poly_into(const Problem& problem, const PenalizedPolyParams& params,
                                      std::span<double> out, FitWorkspace& ws,
                                      std::vector<double>* history = nullptr);

// The checks of tol, max_iter and alpha_factor (params.threshold is not read).
Status check_half_quadratic(const PenalizedPolyParams& params);
// The half-quadratic iterations at threshold s from the fit in `out`, on a workspace that prepare and refit set
// up; appends each change to `history`.
FitReport half_quadratic_fit(std::span<const double> y, const PenalizedPolyParams& params, double s,
                             std::span<double> out, FitWorkspace& ws, std::vector<double>* history);

}  // namespace quorvel::polynomial
