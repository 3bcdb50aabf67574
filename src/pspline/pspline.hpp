// Penalised splines (Eilers & Marx, Statist. Sci. 11 (1996) 89): a B-spline baseline whose coefficients carry a
// difference penalty, B'WB + lambda D'D solved as a band, reweighted by a rule the caller supplies.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "basis.hpp"
#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"
#include "linalg/banded.hpp"

namespace quorvel::pspline {

struct PsplineParams {
    double lambda;
    std::uint64_t max_iter;
    double tol;
    std::uint64_t num_knots = 100;
    std::uint64_t spline_degree = 3;
    unsigned diff_order = 2;  // on the coefficients, 1 to 3
};

struct PsplineWorkspace {
    SplineBasis basis;
    std::vector<double> positions, weights, rhs, coefficients;
    linalg::banded::SymmetricBandedWorkspace system;
};

// The checks in the library's order, then the basis on x (or on evenly spaced positions when x is empty) and
// weight 1 at every used sample.
Status prepare(std::span<const double> y, std::span<const double> x, const PsplineParams& params, Mask mask,
               std::size_t baseline_len, PsplineWorkspace& workspace);

// The baseline B c of the penalised fit with the workspace's weights.
Status solve_weighted(std::span<const double> y, const PsplineParams& params, PsplineWorkspace& workspace,
                      std::span<double> baseline);

// The reference library's loop: at most max_iter + 1 solves, converged once the rule's measure is strictly below
// tol. `reweight(baseline, weights, iteration)` rewrites the weights and returns that measure, or NaN to end the
// fit with the baseline just solved, unconverged, counting the iterations before it.
template <class Reweight>
Result<FitReport> fit_into(std::span<const double> y, std::span<const double> x, const PsplineParams& params,
                           Mask mask, Reweight reweight, std::span<double> baseline, PsplineWorkspace& workspace,
                           std::vector<double>* history = nullptr) {
    if (auto ready = prepare(y, x, params, mask, baseline.size(), workspace); !ready) return ready.error();
    if (history) history->clear();
    const std::uint64_t solves = params.max_iter + 1;
    double measure = 0.0;
    for (std::uint64_t k = 1; k <= solves; ++k) {
        if (auto solved = solve_weighted(y, params, workspace, baseline); !solved) return solved.error();
        const double next = reweight(std::span<const double>(baseline), std::span<double>(workspace.weights), k - 1);
        if (std::isnan(next)) return FitReport{k - 1, measure, false};
        measure = next;
        if (history) history->push_back(measure);
        if (measure < params.tol) return FitReport{k, measure, true};
    }
    return FitReport{solves, measure, false};
}

}  // namespace quorvel::pspline
