// Iteratively reweighted Whittaker smoothing: alternate a penalised solve and a weight rule.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/numeric.hpp"
#include "reweighter.hpp"
#include "system.hpp"
#include "workspace.hpp"

namespace quorvel::whittaker {

struct WhittakerParams {
    double lambda;
    std::uint64_t max_iter;
    double tol;
    unsigned diff_order = 2;  // the order of the differences the penalty takes, 1 to 3
    // The sample positions; the penalties take divided differences on them when they are not evenly spaced
    // (uneven.hpp). Empty: the index.
    std::span<const double> x{};
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
    std::uint64_t* outer = nullptr;          // receives the outer iterations of a two-loop rule
};

Status validate_fit(std::span<const double> y, const WhittakerParams& params, std::size_t baseline_len);
Status validate_mask(std::size_t n, Mask mask, unsigned diff_order = 2);

// sum of |y| over the used samples, floored at epsilon so that an all-zero signal stops at once.
double residual_scale(std::span<const double> y, Mask mask);
double negative_residual_share(std::span<const double> y, std::span<const double> baseline, Mask mask,
                               double scale);

// A rule with parameters of its own checks them (check_rule, found by argument-dependent lookup).
template <class Rule>
Status validate_rule(const Rule& rule) {
    if constexpr (requires { check_rule(rule); }) {
        return check_rule(rule);
    } else {
        return ok;
    }
}

// A rule may start from weights and state of its own (see `start`); the others start from weight 1
// at every used sample and are their own running form.
template <class Rule>
auto start_rule(const Rule& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    if constexpr (requires { start(rule, y, mask, workspace); }) {
        return start(rule, y, mask, workspace);
    } else {
        set_uniform_weights(workspace.iter.weights, mask);
        return rule;
    }
}

// One iteration's solve: the rule's own system, or (W + lambda D'D) z = W y of the chosen order.
template <class Rule>
Status solve_step(const Rule& rule, std::span<const double> y, std::span<double> baseline,
                  WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const auto& weights = workspace.iter.weights;
    if constexpr (requires { solve(rule, y, baseline, workspace, params); }) {
        return solve(rule, y, baseline, workspace, params);
    } else if constexpr (ReferenceLoop<Rule>) {
        return solve_weighted(y, weights, baseline, workspace, params.lambda, params.diff_order);
    } else {
        return solve_penalised(y, weights, baseline, workspace, params.lambda, params.diff_order);
    }
}

template <class Rule>
Result<FitReport> fit_controlled(std::span<const double> y, const WhittakerParams& params, const Rule& rule,
                                 std::span<double> baseline, WhittakerWorkspace& workspace,
                                 const FitControls& controls) {
    if (auto valid = validate_fit(y, params, baseline.size()); !valid) return valid.error();
    if (auto valid = validate_mask(y.size(), controls.mask, params.diff_order); !valid) return valid.error();
    if (auto valid = validate_rule(rule); !valid) return valid.error();
    if (auto ready = prepare_uneven(workspace.uneven, params.x, y.size(), params.diff_order, params.lambda); !ready) {
        return ready.error();
    }

    const std::size_t n = y.size();
    const Mask mask = controls.mask;
    workspace.iter.resize(n);
    workspace.solver.resize(n);
    auto& weights = workspace.iter.weights;
    const auto running = start_rule(rule, y, mask, workspace);
    using Running = std::remove_cvref_t<decltype(running)>;
    static_assert(Reweighter<Running>);
    constexpr bool reference = ReferenceLoop<Running>;
    if (controls.history) controls.history->clear();
    // The reference library's loop stops on the weights alone.
    const bool by_residuals = !reference && controls.stop == StopRule::NegativeResiduals;
    const double scale = by_residuals ? residual_scale(y, mask) : 1.0;

    const std::uint64_t solves = params.max_iter + (reference && params.max_iter < UINT64_MAX ? 1 : 0);
    const auto settled = [&](double change) { return reference ? change < params.tol : change <= params.tol; };

    double measure = 0.0;
    for (std::uint64_t k = 1; k <= solves; ++k) {
        if (auto solved = solve_step(running, y, baseline, workspace, params); !solved) return solved.error();
        if (by_residuals) {
            measure = negative_residual_share(y, baseline, mask, scale);
            if (controls.history) controls.history->push_back(measure);
            if (measure <= params.tol) return FitReport{k, measure, true};
        }
        // The rule measures the change against the weights it overwrites, so the weights
        // of the iteration's start need no copy.
        const double change = update_masked(running, y, baseline, weights, k - 1, mask);
        if constexpr (reference) {
            if (std::isnan(change)) return FitReport{k - 1, measure, false};
        }
        if (!by_residuals) {
            measure = change;
            if (controls.history) controls.history->push_back(change);
            if (settled(change)) return FitReport{k, change, true};
        }
    }
    return FitReport{solves, measure, false};
}

template <class Rule>
Result<FitReport> fit_into(std::span<const double> y, const WhittakerParams& params, const Rule& rule,
                           std::span<double> baseline, WhittakerWorkspace& workspace) {
    return fit_controlled(y, params, rule, baseline, workspace, FitControls{});
}

template <class Rule>
Result<Fit> fit(std::span<const double> y, const WhittakerParams& params, const Rule& rule) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) {
        WhittakerWorkspace workspace(y.size());
        return fit_into(y, params, rule, baseline, workspace);
    });
}

}  // namespace quorvel::whittaker
