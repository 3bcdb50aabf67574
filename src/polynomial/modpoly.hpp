// Modified polynomial fits: the polynomial refitted to the data clipped at it until it settles.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit_setup.hpp"

namespace quorvel::polynomial {

struct ModpolyParams {
    IterationLimits limits;
    bool use_original;        // clip the original data instead of the previous iteration's
    // Leave out of the fits the samples above the first fit plus its residuals' deviation, unless that leaves
    // fewer samples than the polynomial has terms.
    bool mask_initial_peaks;
    double num_std;           // imodpoly: the clipping threshold above the fit, in residual deviations
};

// Lieber & Mahadevan-Jansen (2003): each iteration fits the data clipped at the previous fit; stops once the fit's
// relative change is below tol.
Result<FitReport> modpoly_into(const Problem& problem, const ModpolyParams& params, std::span<double> out,
                               FitWorkspace& ws, std::vector<double>* history = nullptr);

// Zhao et al. (2007): clips at the fit plus num_std deviations of the residuals and stops once the deviation's
// relative change |DEV_i - DEV_{i-1}| / DEV_i is below tol.
Result<FitReport> imodpoly_into(const Problem& problem, const ModpolyParams& params, std::span<double> out,
                                FitWorkspace& ws, std::vector<double>* history = nullptr);

}  // namespace quorvel::polynomial
