// Iteratively reweighted Whittaker smoothing: alternate a penalised solve and a weight rule.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../error.hpp"
#include "../fit_report.hpp"
#include "../workspace.hpp"
#include "reweighter.hpp"

namespace quorvel::whittaker {

struct WhittakerParams {
    double lambda;
    std::uint64_t max_iter;
    double tol;
};

Status validate_fit(std::span<const double> y, const WhittakerParams& params, std::size_t baseline_len);

// `history`, when given, receives the weight change of every iteration.
template <Reweighter Rule>
Result<FitReport> fit_into_impl(std::span<const double> y, const WhittakerParams& params,
                                const Rule& rule, std::span<double> baseline,
                                WhittakerWorkspace& workspace, std::vector<double>* history) {
    if (auto valid = validate_fit(y, params, baseline.size()); !valid) return valid.error();

    const std::size_t n = y.size();
    workspace.iter.resize(n);
    workspace.solver.resize(n);
    auto& weights = workspace.iter.weights;
    std::fill(weights.begin(), weights.end(), 1.0);
    if (history) history->clear();

    double change = 0.0;
    for (std::uint64_t k = 1; k <= params.max_iter; ++k) {
        if (auto solved = linalg::pentadiagonal::solve_second_order(y, weights, baseline,
                                                                   workspace.solver, params.lambda);
            !solved) {
            return solved.error();
        }
        // The rule measures the change against the weights it overwrites, so the weights
        // of the iteration's start need no copy.
        change = update_masked(rule, y, baseline, weights, k - 1, Mask{});
        if (history) history->push_back(change);
        if (change <= params.tol) return FitReport{k, change, true};
    }
    return FitReport{params.max_iter, change, false};
}

template <Reweighter Rule>
Result<Fit> fit_alloc(std::span<const double> y, const WhittakerParams& params, const Rule& rule) {
    return fit_allocated(y.size(), [&](std::span<double> baseline) {
        WhittakerWorkspace workspace(y.size());
        return fit_into_impl(y, params, rule, baseline, workspace, nullptr);
    });
}

}  // namespace quorvel::whittaker
