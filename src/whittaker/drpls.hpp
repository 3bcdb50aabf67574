// drPLS (Xu et al., Appl. Optics 58 (2019) 3913): solves (W + D1'D1 + lambda (I - eta W) D'D) z = W y, D1 the
// first differences, so that the weights also relax the penalty at the baseline's samples; weight
// 1/2 (1 - s / (1 + |s|)), s = e^t (d - (2 sigma - mean)) / sigma, steeper with every iteration t.
#pragma once

#include "core/error.hpp"
#include "engine.hpp"

namespace quorvel::whittaker {

struct DrPlsWeights {
    double eta;
    static constexpr bool reference_loop = true;
};

// Its parameters in their accepted ranges (rule_checks.cpp).
Status check_rule(const DrPlsWeights& rule);

// By LDU without row exchanges, or where a pivot fails by LU with partial pivoting (solve_exchanging).
Status solve(const DrPlsWeights& rule, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params);
Status solve_exchanging(const DrPlsWeights& rule, std::span<const double> y, std::span<double> baseline,
                        WhittakerWorkspace& workspace, const WhittakerParams& params);

double update_masked(const DrPlsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// A grid reweights its points in row-major order as one spectrum; its first differences run along both axes.
inline DrPlsWeights grid_form(const DrPlsWeights& rule) { return rule; }

}  // namespace quorvel::whittaker
