// IAsLS (He et al., Anal. Methods 6 (2014) 4402): AsLS that also penalises the first differences of the
// residual, so that the baseline follows the data's slope under broad peaks. It minimises
// sum (w (y - z))^2 + lam_1 |D1 (y - z)|^2 + lambda |D z|^2, starting from the AsLS weights of a
// quadratic least-squares fit.
#pragma once

#include <optional>
#include <vector>

#include "asls.hpp"
#include "core/error.hpp"
#include "core/grid.hpp"
#include "engine.hpp"

namespace quorvel::whittaker {

struct IaslsWeights {
    double p;
    double lam_1;                        // on grids, across rows
    std::optional<double> lam_1_cols{};  // grids: along each row; lam_1 when unset
};

// The running form keeps the mask (1 for a used sample, 0 otherwise; null when all are used): the first
// differences of the residual join only used neighbours.
struct IaslsRun {
    IaslsWeights rule;
    const double* keep;
    static constexpr bool reference_loop = true;
};

// Its parameters in their accepted ranges (rule_checks.cpp).
Status check_rule(const IaslsWeights& rule);

// The first weights from a quadratic fit on the positions in [-1, 1] (evenly spaced when empty).
IaslsRun start(const IaslsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace,
               std::span<const double> positions = {});

// (W'W + lam_1 D1'D1 + lambda D'D) z = (W'W + lam_1 D1'D1) y.
Status solve(const IaslsRun& run, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params);

// The grid form starts from the AsLS weights of the least-squares surface with every term x^a z^b, a, b <= 2,
// and penalises the first differences of the residual along both axes, joining only used neighbours.
struct IaslsGridRun {
    double p;
    double lam_1_rows, lam_1_cols;
    std::span<const double> keep;  // 1 for a used point, 0 otherwise; empty when all are used
    static constexpr bool reference_loop = true;
};

inline IaslsWeights grid_form(const IaslsWeights& rule) { return rule; }
// Writes the first weights; `state` keeps the used points. The surface is fitted on the positions x (one per row)
// and z (one per column) in [-1, 1], evenly spaced where empty.
IaslsGridRun grid_start(const IaslsWeights& rule, const two_d::Grid& data, Mask mask, std::vector<double>& state,
                        std::span<double> weights, std::span<const double> x = {}, std::span<const double> z = {});

inline double update_masked(const IaslsGridRun& run, std::span<const double> y, std::span<const double> baseline,
                            std::span<double> weights, std::size_t iteration, Mask mask = {}) {
    return update_masked(AslsWeights{run.p}, y, baseline, weights, iteration, mask);
}

inline double update_masked(const IaslsRun& run, std::span<const double> y, std::span<const double> baseline,
                            std::span<double> weights, std::size_t iteration, Mask mask = {}) {
    return update_masked(AslsWeights{run.rule.p}, y, baseline, weights, iteration, mask);
}

}  // namespace quorvel::whittaker
