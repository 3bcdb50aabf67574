// asPLS (Zhang et al., Spectrosc. Lett. 53 (2020) 222): solves (W + lambda A D'D) z = W y, where
// A = diag(|d| / max |d|) lets the baseline bend where the residuals are large, with the logistic
// weight 1 / (1 + exp(k (d - sigma) / sigma)) of the residuals below the baseline's spread sigma.
#pragma once

#include <span>

#include "core/error.hpp"
#include "engine.hpp"

namespace quorvel::whittaker {

struct AsPlsWeights {
    double asymmetric_coef;
};

// The running form: the rule and the penalty's row scales, which every iteration renews.
struct AsPlsRun {
    double asymmetric_coef;
    std::span<double> alpha;
    static constexpr bool reference_loop = true;
};

AsPlsRun start(const AsPlsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace);

Status solve(const AsPlsRun& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params);

double update_masked(const AsPlsRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

}  // namespace quorvel::whittaker
