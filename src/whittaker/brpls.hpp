// BrPLS (Wang et al., Nucl. Sci. Tech. 33 (2022), doi 10.1007/s41365-022-01132-9): each sample's weight is
// the posterior probability that it is baseline plus Gaussian noise rather than an exponentially
// distributed peak, given the prior share beta of the data that peaks take. An inner loop reweights
// until the baseline settles; an outer loop sets beta to the share the weights give, 1 - mean(w).
#pragma once

#include <cstdint>

#include "engine.hpp"

namespace quorvel::whittaker {

struct BrPlsWeights {
    std::uint64_t max_iter_2;  // the most updates of beta
    double tol_2;              // stop once beta changes by less than this
};

// The inner loops run at most max_iter + 1 solves each and stop once the baseline's relative change is
// below tol; the report counts every solve that reweighted, and `controls.outer` receives the number of
// outer iterations. The history holds the baseline changes of every inner iteration.
Result<FitReport> fit_controlled(std::span<const double> y, const WhittakerParams& params, const BrPlsWeights& rule,
                                 std::span<double> baseline, WhittakerWorkspace& workspace,
                                 const FitControls& controls);

// The posterior weights for the prior share beta, or `exhausted` (weights untouched) when fewer than
// two residuals lie below the baseline or none above it.
double update_masked(double beta, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, Mask mask);

// exp(x^2) erfc(x) without overflow for large x (infinite only where the true value is).
double scaled_erfc(double x);

}  // namespace quorvel::whittaker
