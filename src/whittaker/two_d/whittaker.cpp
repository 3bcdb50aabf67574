#include "whittaker.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "preconditioned_system.hpp"

namespace quorvel::two_d::whittaker {
namespace {

// Keeps every system positive definite however small a rule makes a weight.
constexpr double weight_floor = 1e-8;

Status validate_fit(const Grid& data, const Whittaker2DParams& params, const GridOut& output) {
    constexpr const char* positive = "must be finite and positive";
    constexpr const char* nonzero = "must be greater than zero";
    if (!is_finite_positive(params.lambda)) return InvalidParameter{"lambda", positive};
    if (params.lambda_rows && !is_finite_positive(*params.lambda_rows)) return InvalidParameter{"lambda_rows", positive};
    if (params.lambda_cols && !is_finite_positive(*params.lambda_cols)) return InvalidParameter{"lambda_cols", positive};
    if (params.max_iter == 0) return InvalidParameter{"max_iter", nonzero};
    if (!is_finite_positive(params.tol)) return InvalidParameter{"tol", positive};
    if (params.cg_max_iter == 0) return InvalidParameter{"cg_max_iter", nonzero};
    if (!is_finite_positive(params.cg_tol)) return InvalidParameter{"cg_tol", positive};
    if (!same_shape(data, output)) return output_mismatch(data, output);
    if (data.rows < 3 || data.cols < 3) return InputTooShort{data.rows * data.cols, "two_d_whittaker", 9};
    return ok;
}

// Four used points are the fewest that pin down the bilinear surfaces the penalty leaves free.
Status validate_mask(std::size_t n, Mask mask) {
    if (mask.empty()) return ok;
    if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (used_count(n, mask) < 4) return InvalidParameter{"mask", "must keep at least four samples"};
    return ok;
}

Status solve(const GridSystem& system, CgLimits limits, const GridOut& output, Whittaker2DWorkspace& ws,
             PreconditionedWorkspace* multigrid) {
    if (multigrid) return solve_preconditioned(system, limits, ws.rhs, output.data, *multigrid);
    return solve_weighted_system(system, limits, ws.rhs, output.data, ws.residual, ws.direction, ws.product, ws.banded,
                                 true);
}

template <class Rule>
Result<FitReport> fit_loop(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                           Whittaker2DWorkspace& ws, Rule rule, const LoopControls& controls) {
    if (auto valid = validate_fit(data, params, output); !valid) return valid.error();
    const std::size_t n = data.data.size();
    if (auto valid = validate_mask(n, controls.mask); !valid) return valid.error();

    const Mask mask = controls.mask;
    ws.resize(n);
    std::copy(data.data.begin(), data.data.end(), output.data.begin());
    for (std::size_t i = 0; i < n; ++i) ws.weights[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    if (controls.history) controls.history->clear();
    const GridSystem system = grid_system(params, data.rows, data.cols, ws.floored_weights);

    double change = 0.0;
    for (std::uint64_t k = 1; k <= params.max_iter; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            ws.floored_weights[i] = is_masked_out(mask, i) ? 0.0 : std::fmax(ws.weights[i], weight_floor);
            ws.rhs[i] = ws.floored_weights[i] * data.data[i];
        }
        if (auto solved = solve(system, cg_limits(params), output, ws, controls.multigrid); !solved) {
            return solved.error();
        }
        // Measured while the weights are rewritten: no copy of the iteration's start.
        change = update_masked(grid_form(rule), data.data, output.data, ws.weights, k - 1, mask);
        if (controls.history) controls.history->push_back(change);
        if (change <= params.tol) return FitReport{k, change, true};
    }
    return FitReport{params.max_iter, change, false};
}

template <class Rule>
Result<Fit> fit_allocating(const Grid& data, std::uint64_t n, const Whittaker2DParams& params, Rule rule,
                           GridSolver solver) {
    return fit_allocated(n, [&](std::span<double> output) {
        Whittaker2DWorkspace workspace(n);
        const GridOut out{output, data.rows, data.cols};
        if (solver == GridSolver::conjugate_gradients) return fit_with_policy(data, params, out, workspace, rule);
        PreconditionedWorkspace multigrid;
        return fit_loop(data, params, out, workspace, rule, LoopControls{{}, nullptr, &multigrid});
    });
}

}  // namespace

void Whittaker2DWorkspace::resize(std::size_t n) {
    for (auto* buffer : {&weights, &floored_weights}) buffer->resize(n, 1.0);
    for (auto* buffer : {&rhs, &residual, &direction, &product}) buffer->resize(n, 0.0);
}

Result<FitReport> fit_with_policy(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                  Whittaker2DWorkspace& workspace, AslsWeights rule) {
    return fit_loop(data, params, output, workspace, rule, LoopControls{});
}

Result<FitReport> fit_with_policy(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                  Whittaker2DWorkspace& workspace, ArPlsWeights rule) {
    return fit_loop(data, params, output, workspace, rule, LoopControls{});
}

Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                 Whittaker2DWorkspace& workspace, AslsWeights rule, const LoopControls& controls) {
    return fit_loop(data, params, output, workspace, rule, controls);
}

Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                 Whittaker2DWorkspace& workspace, ArPlsWeights rule, const LoopControls& controls) {
    return fit_loop(data, params, output, workspace, rule, controls);
}

Status validate_p(double p) {
    if (is_non_finite(p) || p <= 0.0 || p >= 1.0) return InvalidParameter{"p", "must be finite and between 0 and 1"};
    return ok;
}

Result<Fit> asls(const Grid& data, const Asls2DParams& params) {
    return asls(data, params, GridSolver::conjugate_gradients);
}

Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params) {
    return arpls(data, params, GridSolver::conjugate_gradients);
}

Result<Fit> asls(const Grid& data, const Asls2DParams& params, GridSolver solver) {
    const auto size = validate_shape(data.rows, data.cols);
    if (!size) return size.error();
    if (auto valid = validate_p(params.p); !valid) return valid.error();
    return fit_allocating(data, size.value(), params, AslsWeights{params.p}, solver);
}

Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params, GridSolver solver) {
    const auto size = validate_shape(data.rows, data.cols);
    if (!size) return size.error();
    return fit_allocating(data, size.value(), params, ArPlsWeights{}, solver);
}

}  // namespace quorvel::two_d::whittaker
