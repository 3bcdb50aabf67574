#include "whittaker.hpp"

#include <algorithm>
#include <cmath>

#include "../numeric.hpp"
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

template <class Rule, class Solve>
Result<FitReport> fit_loop(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                           Whittaker2DWorkspace& ws, Rule rule, Solve solve) {
    if (auto valid = validate_fit(data, params, output); !valid) return valid.error();

    const std::size_t n = data.data.size();
    ws.resize(n);
    std::copy(data.data.begin(), data.data.end(), output.data.begin());
    std::fill(ws.weights.begin(), ws.weights.end(), 1.0);

    double change = 0.0;
    for (std::uint64_t k = 1; k <= params.max_iter; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            ws.floored_weights[i] = std::fmax(ws.weights[i], weight_floor);
            ws.rhs[i] = ws.floored_weights[i] * data.data[i];
        }
        if (auto solved = solve(ws); !solved) return solved.error();
        // Measured while the weights are rewritten: no copy of the iteration's start.
        change = reweight(rule, data.data, output.data, ws.weights);
        if (change <= params.tol) return FitReport{k, change, true};
    }
    return FitReport{params.max_iter, change, false};
}

template <class Rule>
Result<FitReport> fit_loop(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                           Whittaker2DWorkspace& ws, Rule rule) {
    return fit_loop(data, params, output, ws, rule, [&](Whittaker2DWorkspace& w) {
        return solve_weighted_system(data.rows, data.cols, params, w.floored_weights, w.rhs, output.data, w.residual,
                                     w.direction, w.product, w.banded, true);
    });
}

template <class Rule>
Result<Fit> fit_allocating(const Grid& data, std::uint64_t n, const Whittaker2DParams& params, Rule rule,
                           GridSolver solver) {
    return fit_allocated(n, [&](std::span<double> output) {
        Whittaker2DWorkspace workspace(n);
        const GridOut out{output, data.rows, data.cols};
        if (solver == GridSolver::conjugate_gradients) return fit_with_policy(data, params, out, workspace, rule);
        PreconditionedWorkspace preconditioned;
        return fit_loop(data, params, out, workspace, rule, [&](Whittaker2DWorkspace& w) {
            return solve_preconditioned(data.rows, data.cols, params, w.floored_weights, w.rhs, output, preconditioned);
        });
    });
}

}  // namespace

void Whittaker2DWorkspace::resize(std::size_t n) {
    for (auto* buffer : {&weights, &floored_weights}) buffer->resize(n, 1.0);
    for (auto* buffer : {&rhs, &residual, &direction, &product}) buffer->resize(n, 0.0);
}

Result<FitReport> fit_with_policy(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                  Whittaker2DWorkspace& workspace, AslsWeights rule) {
    return fit_loop(data, params, output, workspace, rule);
}

Result<FitReport> fit_with_policy(const Grid& data, const Whittaker2DParams& params, const GridOut& output,
                                  Whittaker2DWorkspace& workspace, ArPlsWeights rule) {
    return fit_loop(data, params, output, workspace, rule);
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
    if (is_non_finite(params.p) || params.p <= 0.0 || params.p >= 1.0) {
        return InvalidParameter{"p", "must be finite and between 0 and 1"};
    }
    return fit_allocating(data, size.value(), params, AslsWeights{params.p}, solver);
}

Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params, GridSolver solver) {
    const auto size = validate_shape(data.rows, data.cols);
    if (!size) return size.error();
    return fit_allocating(data, size.value(), params, ArPlsWeights{}, solver);
}

}  // namespace quorvel::two_d::whittaker
