// Quantile regression of a polynomial (Komsta 2011) by iteratively reweighted least squares (Schnabel et al.
// 2013): the weighted squares of the residuals approximate the quantile's check loss.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit_setup.hpp"

namespace quorvel::polynomial {

struct QuantRegParams {
    IterationLimits limits;
    double quantile;  // in (0, 1)
    double eps;       // > 0, added to the squared residuals; NaN: (1e-6 max |fit|)^2 each iteration (at least
                      // the smallest normal double)
};

// Starts from the data as the previous fit; each iteration weights the samples by q or 1 - q (above or below the
// fit) over sqrt(r^2 + eps) and refits; stops once the fit's relative change is below tol.
Result<FitReport> quant_reg_into(const Problem& problem, const QuantRegParams& params, std::span<double> out,
                                 FitWorkspace& ws, std::vector<double>* history = nullptr);

}  // namespace quorvel::polynomial
