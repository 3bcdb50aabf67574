// Iteratively reweighted Whittaker smoothing: alternate a penalised solve and a weight rule.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/numeric.hpp"
#include "reweighter.hpp"
#include "workspace.hpp"

namespace quorvel::whittaker {

struct WhittakerParams {
    double lambda;
    std::uint64_t max_iter;
    double tol;
};

// What ends a fit: the relative change of the weights, or the share of the signal that lies
// below the baseline (sum of |negative residuals| / sum of |y|, the airPLS paper's own rule).
enum class StopRule : std::uint8_t { WeightChange, NegativeResiduals };

// Options beyond the parameter record. A masked-out sample takes no part in the fit; its value
// in y must still be finite (callers put a placeholder there) and never changes the result.
struct FitControls {
    Mask mask{};
    StopRule stop = StopRule::WeightChange;
    std::vector<double>* history = nullptr;  // receives the stop measure of every iteration
};

Status validate_fit(std::span<const double> y, const WhittakerParams& params, std::size_t baseline_len);
Status validate_mask(std::size_t n, Mask mask);

// sum of |y| over the used samples, floored at epsilon so that an all-zero signal stops at once.
double residual_scale(std::span<const double> y, Mask mask);
double negative_residual_share(std::span<const double> y, std::span<const double> baseline, Mask mask,
                               double scale);

template <Reweighter Rule>
Result<FitReport> fit_controlled(std::span<const double> y, const WhittakerParams& params, const Rule& rule,
                                 std::span<double> baseline, WhittakerWorkspace& workspace,
                                 const FitControls& controls) {
    if (auto valid = validate_fit(y, params, baseline.size()); !valid) return valid.error();
    if (auto valid = validate_mask(y.size(), controls.mask); !valid) return valid.error();

    const std::size_t n = y.size();
    const Mask mask = controls.mask;
    workspace.iter.resize(n);
    workspace.solver.resize(n);
    auto& weights = workspace.iter.weights;
    set_uniform_weights(weights, mask);
    if (controls.history) controls.history->clear();
    const bool by_residuals = controls.stop == StopRule::NegativeResiduals;
    const double scale = by_residuals ? residual_scale(y, mask) : 1.0;

    double measure = 0.0;
    for (std::uint64_t k = 1; k <= params.max_iter; ++k) {
        if (auto solved = linalg::pentadiagonal::solve_second_order(y, weights, baseline,
                                                                   workspace.solver, params.lambda);
            !solved) {
            return solved.error();
        }
        if (by_residuals) {
            measure = negative_residual_share(y, baseline, mask, scale);
            if (controls.history) controls.history->push_back(measure);
            if (measure <= params.tol) return FitReport{k, measure, true};
        }
        // The rule measures the change against the weights it overwrites, so the weights
        // of the iteration's start need no copy.
        const double change = update_masked(rule, y, baseline, weights, k - 1, mask);
        if (!by_residuals) {
            measure = change;
            if (controls.history) controls.history->push_back(change);
            if (change <= params.tol) return FitReport{k, change, true};
        }
    }
    return FitReport{params.max_iter, measure, false};
}

template <Reweighter Rule>
Result<FitReport> fit_into(std::span<const double> y, const WhittakerParams& params, const Rule& rule,
                           std::span<double> baseline, WhittakerWorkspace& workspace) {
    return fit_controlled(y, params, rule, baseline, workspace, FitControls{});
}

template <Reweighter Rule>
Result<Fit> fit(std::span<const double> y, const WhittakerParams& params, const Rule& rule) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) {
        WhittakerWorkspace workspace(y.size());
        return fit_into(y, params, rule, baseline, workspace);
    });
}

}  // namespace quorvel::whittaker
