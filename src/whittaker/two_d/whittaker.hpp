// Two-dimensional Whittaker smoothing: reweighted fits of a penalised surface.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"
#include "core/mask.hpp"
#include "grid_system.hpp"
#include "linalg/banded.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"

namespace quorvel::two_d::whittaker {

struct Whittaker2DParams {
    std::optional<double> lambda_rows;  // across rows; `lambda` when unset
    std::optional<double> lambda_cols;  // along each row; `lambda` when unset
    double lambda;
    std::uint64_t max_iter;
    double tol;
    std::uint64_t cg_max_iter;
    double cg_tol;
};

struct Asls2DParams : Whittaker2DParams {
    double p;
};

// The rules of spectra; the loop applies each one's grid form.
using quorvel::whittaker::AslsWeights;
using quorvel::whittaker::ArPlsWeights;

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

// The system of a rows x cols grid under these parameters: an unset axis smoothing weight is `lambda`.
inline GridSystem grid_system(const Whittaker2DParams& params, std::uint64_t rows, std::uint64_t cols,
                              std::span<const double> weights) {
    return {rows, cols, params.lambda_rows.value_or(params.lambda), params.lambda_cols.value_or(params.lambda),
            weights};
}

inline CgLimits cg_limits(const Whittaker2DParams& params) { return {params.cg_max_iter, params.cg_tol}; }

struct PreconditionedWorkspace;

// Options beyond the parameter record. Masked-out points have weight 0 in every solve, so their
// data (which must be finite; callers put a placeholder there) never changes the result.
struct LoopControls {
    Mask mask{};
    std::vector<double>* history = nullptr;  // receives the weight change of every iteration
    // When given, every system is solved by multigrid-preconditioned conjugate gradients in it.
    PreconditionedWorkspace* multigrid = nullptr;
};

Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                 Whittaker2DWorkspace& workspace, AslsWeights rule, const LoopControls& controls);
Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                 Whittaker2DWorkspace& workspace, ArPlsWeights rule, const LoopControls& controls);

Result<FitReport> fit_with_policy(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                  Whittaker2DWorkspace& workspace, AslsWeights rule);
Result<FitReport> fit_with_policy(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                  Whittaker2DWorkspace& workspace, ArPlsWeights rule);

Status validate_p(double p);

Result<Fit> asls(const Grid& data, const Asls2DParams& params);
Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params);

// The same fits with a chosen solver: `multigrid` solves every system, whatever its size, by
// multigrid-preconditioned conjugate gradients (preconditioned_system.hpp).
enum class GridSolver { conjugate_gradients, multigrid };
Result<Fit> asls(const Grid& data, const Asls2DParams& params, GridSolver solver);
Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params, GridSolver solver);

}  // namespace quorvel::two_d::whittaker
