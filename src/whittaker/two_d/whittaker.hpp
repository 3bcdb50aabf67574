// Two-dimensional Whittaker smoothing: reweighted fits of a penalised surface, in the shape of
// the fits of spectra (whittaker/engine.hpp): fit_controlled, fit_into and fit, over a rule.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "bicgstab.hpp"
#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"
#include "core/mask.hpp"
#include "grid_system.hpp"
#include "linalg/banded.hpp"
#include "params.hpp"
#include "preconditioned_system.hpp"
#include "uneven_axes.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/aspls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/brpls.hpp"
#include "whittaker/drpls.hpp"
#include "whittaker/iarpls.hpp"
#include "whittaker/iasls.hpp"
#include "whittaker/lsrpls.hpp"
#include "whittaker/psalsa.hpp"

namespace quorvel::two_d::whittaker {

// The rules of spectra; the loop applies each one's grid form.
using quorvel::whittaker::AslsWeights;
using quorvel::whittaker::ArPlsWeights;
using quorvel::whittaker::BrPlsWeights;
using quorvel::whittaker::DrPlsWeights;
using quorvel::whittaker::IaslsGridRun;

// A grid form is a weight rule, or starts one from the data (see grid_start).
template <class Rule>
concept GridRule = requires(const Rule& rule) { grid_form(rule); };

struct Whittaker2DWorkspace {
    std::vector<double> weights;
    std::vector<double> floored_weights;
    std::vector<double> rhs;
    std::vector<double> residual;
    std::vector<double> direction;
    std::vector<double> product;
    std::vector<double> state;  // what a rule keeps between iterations besides the weights
    linalg::banded::SymmetricBandedWorkspace banded;
    BicgstabWorkspace unsymmetric;  // drpls
    linalg::banded::GeneralBandedWorkspace general;  // drpls on small grids
    UnevenGrid uneven;

    explicit Whittaker2DWorkspace(std::size_t n = 0) { resize(n); }
    // New weight places get 1.0, all other new places 0.0; existing values stay.
    void resize(std::size_t n);
};

// Options beyond the parameter record. Masked-out points have weight 0 in every solve, so their
// data (which must be finite; callers put a placeholder there) never changes the result.
struct FitControls {
    Mask mask{};
    std::vector<double>* history = nullptr;  // receives the stop measure of every iteration
    // When given, every system is solved in it by a Krylov method preconditioned by multigrid.
    PreconditionedWorkspace* multigrid = nullptr;
    std::uint64_t* outer = nullptr;  // receives the outer iterations of a two-loop rule
    std::uint64_t* short_solves = nullptr;  // receives how many solves stopped at cg_max_iter short of cg_tol
};

// The solver limits of a fit, counting its short solves where the controls ask.
inline CgLimits fit_limits(const Whittaker2DParams& params, const FitControls& controls) {
    CgLimits limits = cg_limits(params);
    limits.short_solves = controls.short_solves;
    if (controls.short_solves) *controls.short_solves = 0;
    return limits;
}

// Keeps every system positive definite however small a rule makes a weight.
inline constexpr double weight_floor = 1e-8;

Status validate_fit(const Grid& data, const Whittaker2DParams& params, const GridOut& output, Mask mask);
// The system of every iteration, on ws.floored_weights and the penalties of the positions params.x and params.z,
// which it checks.
Result<GridSystem> fit_system(const Grid& data, const Whittaker2DParams& params, Whittaker2DWorkspace& ws);
// The output starts as the data, the weights as 1 (0 where masked).
void start_fit(const Grid& data, const GridOut& output, Whittaker2DWorkspace& ws, Mask mask);
// The system of one iteration, from the floored weights (divided by penalty_scale where a rule scales
// its penalty point by point), solved into the output. `system` reads ws.floored_weights.
Status solve_iteration(const Grid& data, const GridSystem& system, CgLimits limits, const GridOut& output,
                       Whittaker2DWorkspace& ws, const FitControls& controls,
                       std::span<const double> penalty_scale = {});
// A symmetric system with its right-hand side in ws.rhs, by the solver the controls choose.
Status solve_symmetric(const GridSystem& system, CgLimits limits, const GridOut& output, Whittaker2DWorkspace& ws,
                       const FitControls& controls, Coarsening coarsening = Coarsening::averaged);

template <class Form>
auto grid_start_of(const Form& form, const Grid& data, Mask mask, Whittaker2DWorkspace& ws) {
    // An uneven axis's positions, for a start fitted on them; an even one keeps the index's bits.
    if constexpr (requires { grid_start(form, data, mask, ws.state, std::span<double>(ws.weights), ws.uneven.x); }) {
        return grid_start(form, data, mask, ws.state, std::span<double>(ws.weights), ws.uneven.x, ws.uneven.z);
    } else if constexpr (requires { grid_start(form, data.data, mask, ws.state); }) {
        return grid_start(form, data.data, mask, ws.state);
    } else {
        return form;
    }
}

template <class Form>
std::span<const double> penalty_scale_of(const Form& form) {
    if constexpr (requires { penalty_scale(form); }) {
        return penalty_scale(form);
    } else {
        return {};
    }
}

// The step of one iteration: the rules whose systems differ from W + the smoothing penalty form their own.
template <class Form>
Status solve_step(const Form& form, const Grid& data, const GridSystem& system, CgLimits limits,
                  const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls) {
    return solve_iteration(data, system, limits, output, ws, controls, penalty_scale_of(form));
}
// IAsLS: W'W + the first differences + the smoothing penalty, right side (W'W + first differences) y.
Status solve_step(const IaslsGridRun& run, const Grid& data, const GridSystem& system, CgLimits limits,
                  const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls);
// drPLS: W + the first differences + diag(1 - eta w) times the smoothing penalty, right side W y.
Status solve_step(const DrPlsWeights& rule, const Grid& data, const GridSystem& system, CgLimits limits,
                  const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls);

// asls and arpls run at most max_iter solves and stop once the change is at most tol; the rules that
// came later follow the reference library's loop (whittaker/reweighter.hpp): max_iter + 1 solves, a
// change strictly below tol, and an early end, with the baseline just solved, when a rule is exhausted.
template <GridRule Rule>
Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const Rule& rule,
                                 const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls) {
    if (auto valid = validate_fit(data, params, output, controls.mask); !valid) return valid.error();
    if (auto valid = quorvel::whittaker::validate_rule(rule); !valid) return valid.error();
    const auto prepared = fit_system(data, params, ws);
    if (!prepared) return prepared.error();
    const GridSystem& system = prepared.value();
    start_fit(data, output, ws, controls.mask);
    if (controls.history) controls.history->clear();
    const auto running = grid_start_of(grid_form(rule), data, controls.mask, ws);
    using Running = std::remove_cvref_t<decltype(running)>;
    static_assert(quorvel::whittaker::Reweighter<Running>);
    constexpr bool reference = quorvel::whittaker::ReferenceLoop<Running>;
    const std::uint64_t solves = params.max_iter + (reference && params.max_iter < UINT64_MAX ? 1 : 0);
    const CgLimits limits = fit_limits(params, controls);

    double change = 0.0;
    for (std::uint64_t k = 1; k <= solves; ++k) {
        if (auto solved = solve_step(running, data, system, limits, output, ws, controls); !solved) {
            return solved.error();
        }
        // Measured while the weights are rewritten: no copy of the iteration's start.
        const double next = update_masked(running, data.data, output.data, ws.weights, k - 1, controls.mask);
        if constexpr (reference) {
            if (std::isnan(next)) return FitReport{k - 1, change, false};
        }
        change = next;
        if (controls.history) controls.history->push_back(change);
        if (reference ? change < params.tol : change <= params.tol) return FitReport{k, change, true};
    }
    return FitReport{solves, change, false};
}

// brpls' two loops (whittaker/brpls.hpp) over the grid solve; `controls.outer` receives the outer iterations.
Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const BrPlsWeights& rule,
                                 const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls);

template <GridRule Rule>
Result<FitReport> fit_into(const Grid& data, const Whittaker2DParams& params, const Rule& rule,
                           const GridOut& output, Whittaker2DWorkspace& workspace) {
    return fit_controlled(data, params, rule, output, workspace, FitControls{});
}

// `multigrid` solves every system, whatever its size, by multigrid-preconditioned conjugate
// gradients; `conjugate_gradients` hands small grids to the banded solve.
enum class GridSolver { conjugate_gradients, multigrid };

template <GridRule Rule>
Result<Fit> fit(const Grid& data, const Whittaker2DParams& params, const Rule& rule,
                GridSolver solver = GridSolver::conjugate_gradients) {
    const auto size = validate_shape(data.rows, data.cols);
    if (!size) return size.error();
    return fit_allocated(size.value(), [&](std::span<double> output) {
        Whittaker2DWorkspace workspace(size.value());
        PreconditionedWorkspace multigrid;
        const FitControls controls{{}, nullptr, solver == GridSolver::multigrid ? &multigrid : nullptr};
        return fit_controlled(data, params, rule, GridOut{output, data.rows, data.cols}, workspace, controls);
    });
}

Status validate_p(double p);

Result<Fit> asls(const Grid& data, const Asls2DParams& params, GridSolver solver = GridSolver::conjugate_gradients);
Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params,
                  GridSolver solver = GridSolver::conjugate_gradients);

}  // namespace quorvel::two_d::whittaker
