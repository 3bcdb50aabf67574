#include "whittaker.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::two_d::whittaker {
namespace {

Status validate_params(const Whittaker2DParams& params) {
    constexpr const char* positive = "must be finite and positive";
    constexpr const char* nonzero = "must be greater than zero";
    if (!is_finite_positive(params.lambda)) return InvalidParameter{"lambda", positive};
    if (params.lambda_rows && !is_finite_positive(*params.lambda_rows)) {
        return InvalidParameter{"lambda_rows", positive};
    }
    if (params.lambda_cols && !is_finite_positive(*params.lambda_cols)) {
        return InvalidParameter{"lambda_cols", positive};
    }
    if (params.max_iter == 0) return InvalidParameter{"max_iter", nonzero};
    if (!is_finite_positive(params.tol)) return InvalidParameter{"tol", positive};
    if (params.cg_max_iter == 0) return InvalidParameter{"cg_max_iter", nonzero};
    if (!is_finite_positive(params.cg_tol)) return InvalidParameter{"cg_tol", positive};
    return ok;
}

// The penalty leaves free the products of a polynomial of degree order_r - 1 across rows and one of order_c - 1
// along them: order_r order_c used points are the fewest that pin them down, and four the fewest taken.
Status validate_mask(std::size_t n, Mask mask, const Whittaker2DParams& params) {
    if (mask.empty()) return ok;
    if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    const std::size_t used = used_count(n, mask), free = params.diff_order_rows * params.diff_order_cols;
    if (free == 9 && used < 9) return InvalidParameter{"mask", "must keep at least nine samples"};
    if (free == 6 && used < 6) return InvalidParameter{"mask", "must keep at least six samples"};
    if (used < 4) return InvalidParameter{"mask", "must keep at least four samples"};
    return ok;
}

}  // namespace

void Whittaker2DWorkspace::resize(std::size_t n) {
    for (auto* buffer : {&weights, &floored_weights}) buffer->resize(n, 1.0);
    for (auto* buffer : {&rhs, &residual, &direction, &product}) buffer->resize(n, 0.0);
}

Status validate_fit(const Grid& data, const Whittaker2DParams& params, const GridOut& output, Mask mask) {
    if (auto valid = validate_params(params); !valid) return valid;
    if (!same_shape(data, output)) return output_mismatch(data, output);
    if (data.rows < 3 || data.cols < 3) return InputTooShort{data.rows * data.cols, "two_d_whittaker", 9};
    if (auto valid = validate_orders(params, data.rows, data.cols); !valid) return valid;
    return validate_mask(data.data.size(), mask, params);
}

Result<GridSystem> fit_system(const Grid& data, const Whittaker2DParams& params, Whittaker2DWorkspace& ws) {
    ws.resize(data.data.size());  // the system holds the floored weights' place
    if (auto uneven = prepare_uneven_grid(ws.uneven, params.x, params.z, data.rows, data.cols, params.diff_order_rows,
                                          params.diff_order_cols);
        !uneven) {
        return uneven.error();
    }
    return grid_system(params, data.rows, data.cols, ws.floored_weights, ws.uneven.active ? &ws.uneven : nullptr);
}

void start_fit(const Grid& data, const GridOut& output, Whittaker2DWorkspace& ws, Mask mask) {
    const std::size_t n = data.data.size();
    ws.resize(n);
    std::copy(data.data.begin(), data.data.end(), output.data.begin());
    for (std::size_t i = 0; i < n; ++i) ws.weights[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
}

Status solve_iteration(const Grid& data, const GridSystem& system, CgLimits limits, const GridOut& output,
                       Whittaker2DWorkspace& ws, const FitControls& controls, std::span<const double> penalty_scale) {
    for (std::size_t i = 0; i < data.data.size(); ++i) {
        ws.floored_weights[i] = is_masked_out(controls.mask, i) ? 0.0 : std::fmax(ws.weights[i], weight_floor);
        // A scale of exactly 0 would pin the point to the data; the floor keeps it within 2^-40 lambda of it.
        if (!penalty_scale.empty()) {
            ws.floored_weights[i] = ws.floored_weights[i] / std::fmax(penalty_scale[i], 0x1p-40);
        }
        ws.rhs[i] = ws.floored_weights[i] * data.data[i];
    }
    // The rows divided by the scale rejoin the norm with their scale; a scale of 0 drops a row that is
    // pinned anyway.
    limits.row_scale = penalty_scale;
    // Divided by the scale, the weights of neighbours differ by as many decades as their residuals; under first
    // differences alone the averaged weights still serve, at less cost, and so they do under the line smoothing of
    // uneven axes (47 steps where Galerkin weights under point smoothing take 694, at 96 x 96 with steps 100 apart).
    const bool first_only = system.order_r == 1 && system.order_c == 1;
    const bool galerkin = !penalty_scale.empty() && !first_only && !system.uneven;
    return solve_symmetric(system, limits, output, ws, controls, galerkin ? Coarsening::galerkin : Coarsening::averaged);
}

Status solve_symmetric(const GridSystem& system, CgLimits limits, const GridOut& output, Whittaker2DWorkspace& ws,
                       const FitControls& controls, Coarsening coarsening) {
    if (controls.multigrid) {
        return solve_preconditioned(system, limits, ws.rhs, output.data, *controls.multigrid, coarsening);
    }
    return solve_weighted_system(system, limits, ws.rhs, output.data, ws.residual, ws.direction, ws.product, ws.banded,
                                 true);
}

Result<FitReport> fit_controlled(const Grid& data, const Whittaker2DParams& params, const BrPlsWeights& rule,
                                 const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls) {
    if (auto valid = validate_fit(data, params, output, controls.mask); !valid) return valid.error();
    if (auto valid = quorvel::whittaker::check_rule(rule); !valid) return valid.error();
    const auto prepared = fit_system(data, params, ws);
    if (!prepared) return prepared.error();
    const GridSystem& system = prepared.value();
    start_fit(data, output, ws, controls.mask);
    const quorvel::whittaker::BrPlsLoops loops{params.max_iter, params.tol, controls.history, controls.outer};
    const CgLimits limits = fit_limits(params, controls);
    return quorvel::whittaker::brpls_loops(data.data, controls.mask, rule, loops, ws.weights, output.data, ws.state,
                                           [&](std::span<const double>, std::span<double>) {
                                               return solve_iteration(data, system, limits, output, ws, controls);
                                           });
}

Status validate_p(double p) {
    if (is_non_finite(p) || p <= 0.0 || p >= 1.0) return InvalidParameter{"p", "must be finite and between 0 and 1"};
    return ok;
}

Result<Fit> asls(const Grid& data, const Asls2DParams& params, GridSolver solver) {
    if (auto size = validate_shape(data.rows, data.cols); !size) return size.error();
    if (auto valid = validate_p(params.p); !valid) return valid.error();
    return fit(data, params, AslsWeights{params.p}, solver);
}

Result<Fit> arpls(const Grid& data, const Whittaker2DParams& params, GridSolver solver) {
    return fit(data, params, ArPlsWeights{}, solver);
}

}  // namespace quorvel::two_d::whittaker
