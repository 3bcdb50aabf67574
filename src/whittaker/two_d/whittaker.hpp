// Two-dimensional Whittaker smoothing: reweighted fits of a penalised surface, in the shape of
// the fits of spectra (whittaker/engine.hpp): fit_controlled, fit_into and fit, over a rule.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"
#include "core/mask.hpp"
#include "grid_system.hpp"
#include "linalg/banded.hpp"
#include "params.hpp"
#include "preconditioned_system.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"

namespace quorvel::two_d::whittaker {

// The rules of spectra; the loop applies each one's grid form.
using quorvel::whittaker::AslsWeights;
using quorvel::whittaker::ArPlsWeights;

template <class Rule>
concept GridRule = requires(const Rule& rule) {
    { grid_form(rule) } -> quorvel::whittaker::Reweighter;
};

struct Whittaker2DWorkspace {
    std::vector<double> weights;
    std::vector<double> floored_weights;
    std::vector<double> rhs;
    std::vector<double> residual;
    std::vector<double> direction;
    std::vector<double> product;
    linalg::banded::SymmetricBandedWorkspace banded;

    explicit Whittaker2DWorkspace(std::size_t n = 0) { resize(n); }
    // New weight places get 1.0, all other new places 0.0; existing values stay.
    void resize(std::size_t n);
};

// Options beyond the parameter record. Masked-out points have weight 0 in every solve, so their
// data (which must be finite; callers put a placeholder there) never changes the result.
struct FitControls {
    Mask mask{};
    std::vector<double>* history = nullptr;  // receives the weight change of every iteration
    // When given, every system is solved by multigrid-preconditioned conjugate gradients in it.
    PreconditionedWorkspace* multigrid = nullptr;
};

Status validate_fit(const Grid& data, const Whittaker2DParams& params, const GridOut& output, Mask mask);
// The output starts as the data, the weights as 1 (0 where masked).
void start_fit(const Grid& data, const GridOut& output, Whittaker2DWorkspace& ws, Mask mask);
// The system of one iteration, from the floored weights, solved into the output. `system` reads
// ws.floored_weights.
Status solve_iteration(const Grid& data, const GridSystem& system, CgLimits limits, const GridOut& output,
                       Whittaker2DWorkspace& ws, const FitControls& controls);

template <GridRule Rule>
Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const Rule& rule,
                                 const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls) {
    if (auto valid = validate_fit(data, params, output, controls.mask); !valid) return valid.error();
    start_fit(data, output, ws, controls.mask);
    if (controls.history) controls.history->clear();
    const GridSystem system = grid_system(params, data.rows, data.cols, ws.floored_weights);

    double change = 0.0;
    for (std::uint64_t k = 1; k <= params.max_iter; ++k) {
        if (auto solved = solve_iteration(data, system, cg_limits(params), output, ws, controls); !solved) {
            return solved.error();
        }
        // Measured while the weights are rewritten: no copy of the iteration's start.
        change = update_masked(grid_form(rule), data.data, output.data, ws.weights, k - 1, controls.mask);
        if (controls.history) controls.history->push_back(change);
        if (change <= params.tol) return FitReport{k, change, true};
    }
    return FitReport{params.max_iter, change, false};
}

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
