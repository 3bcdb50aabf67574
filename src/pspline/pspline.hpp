// Penalised splines (Eilers & Marx, Statist. Sci. 11 (1996) 89): a B-spline baseline whose coefficients carry a
// difference penalty, B'WB + lambda D'D solved as a band, reweighted by a rule the caller supplies.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "basis.hpp"
#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"
#include "system.hpp"

namespace quorvel::pspline {

struct PsplineParams {
    double lambda;
    std::uint64_t max_iter;
    double tol;
    std::uint64_t num_knots = 100;
    std::uint64_t spline_degree = 3;
    unsigned diff_order = 2;  // on the coefficients, 1 to 3
};

// What a basis was built for: the spectra of a block share one x (or none), so each builds it once. A workspace
// lives no longer than the call whose x it keys on.
struct BasisKey {
    const double* x;
    std::size_t n;
    std::uint64_t num_knots, spline_degree;

    bool operator==(const BasisKey&) const = default;
};

struct PsplineWorkspace {
    SplineBasis basis;
    std::vector<double> positions, weights, scale;
    SystemWorkspace system;
    std::optional<BasisKey> built_for;
};

// The checks in the library's order, then the basis on x (or on evenly spaced positions when x is empty) and
// weight 1 at every used sample.
Status prepare(std::span<const double> y, std::span<const double> x, const PsplineParams& params, Mask mask,
               std::size_t baseline_len, PsplineWorkspace& workspace);

// The baseline B c of the penalised fit with the workspace's weights and the method's terms.
Status solve_weighted(std::span<const double> y, const PsplineParams& params, Mask mask, const SystemTerms& terms,
                      PsplineWorkspace& workspace, std::span<double> baseline);

// A method of the loop: `reweight(baseline, weights, iteration)` rewrites the weights and returns the measure, or NaN
// to end the fit with the baseline just solved; optionally `begin(workspace)` after the checks (the method's own
// checks and first weights) and `terms(workspace)` before each solve.
template <class Method>
concept Reweighting = requires(Method& method, std::span<const double> z, std::span<double> w, std::size_t k) {
    { method.reweight(z, w, k) } -> std::same_as<double>;
};

template <class Method>
Status begin_method(Method& method, PsplineWorkspace& workspace) {
    if constexpr (requires { method.begin(workspace); }) {
        return method.begin(workspace);
    } else {
        return ok;
    }
}

template <class Method>
SystemTerms terms_of(Method& method, PsplineWorkspace& workspace) {
    if constexpr (requires { method.terms(workspace); }) {
        return method.terms(workspace);
    } else {
        return {};
    }
}

// The reference library's loop: at most max_iter + 1 solves, converged once the method's measure is strictly below
// tol; a NaN measure ends the fit unconverged, counting the iterations before it.
template <Reweighting Method>
Result<FitReport> fit_into(std::span<const double> y, std::span<const double> x, const PsplineParams& params,
                           Mask mask, Method& method, std::span<double> baseline, PsplineWorkspace& workspace,
                           std::vector<double>* history = nullptr) {
    if (auto ready = prepare(y, x, params, mask, baseline.size(), workspace); !ready) return ready.error();
    if (auto begun = begin_method(method, workspace); !begun) return begun.error();
    if (history) history->clear();
    const std::uint64_t solves = params.max_iter + 1;
    double measure = 0.0;
    for (std::uint64_t k = 1; k <= solves; ++k) {
        const SystemTerms terms = terms_of(method, workspace);
        if (auto solved = solve_weighted(y, params, mask, terms, workspace, baseline); !solved) return solved.error();
        const double next = method.reweight(std::span<const double>(baseline), std::span<double>(workspace.weights),
                                            k - 1);
        if (std::isnan(next)) return FitReport{k - 1, measure, false};
        measure = next;
        if (history) history->push_back(measure);
        if (measure < params.tol) return FitReport{k, measure, true};
    }
    return FitReport{solves, measure, false};
}

}  // namespace quorvel::pspline
