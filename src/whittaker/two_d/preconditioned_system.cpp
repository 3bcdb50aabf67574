#include "preconditioned_system.hpp"

#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::two_d::whittaker {
namespace {

constexpr const char* positive = "must be finite and positive";

Status check_lengths(std::uint64_t n, std::span<const double> weights, std::span<const double> rhs,
                     std::span<double> x) {
    if (weights.size() != n) return LengthMismatch{"weights", n, weights.size()};
    if (rhs.size() != n) return LengthMismatch{"rhs", n, rhs.size()};
    if (x.size() != n) return LengthMismatch{"x", n, x.size()};
    return ok;
}

// The residual is a recurrence, so an overflow in x need not show in it.
Status finite(std::span<const double> x) {
    if (first_non_finite(x)) return LinearSolveFailed{"2D Whittaker preconditioned conjugate gradients diverged"};
    return ok;
}

double dot(std::span<const double> a, std::span<const double> b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum = sum + a[k] * b[k];
    return sum;
}

}  // namespace

void PreconditionedWorkspace::resize(const GridSystem& system, Coarsening coarsening) {
    const std::size_t n = system.rows * system.cols;
    for (auto* buffer : {&residual, &preconditioned, &direction, &product}) buffer->resize(n, 0.0);
    multigrid.resize(system, coarsening);
}

Status solve_preconditioned(std::uint64_t rows, std::uint64_t cols, const Whittaker2DParams& params,
                            std::span<const double> weights, std::span<const double> rhs, std::span<double> x,
                            PreconditionedWorkspace& ws) {
    if (rows < 3 || cols < 3) return InputTooShort{rows * cols, "two_d_whittaker", 9};
    if (auto orders = validate_orders(params, rows, cols); !orders) return orders;
    if (auto lengths = check_lengths(rows * cols, weights, rhs, x); !lengths) return lengths;
    ws.steps = 0;
    const GridSystem system = grid_system(params, rows, cols, weights);
    if (!is_finite_positive(system.lambda_r)) {
        return InvalidParameter{params.lambda_rows ? "lambda_rows" : "lambda", positive};
    }
    if (!is_finite_positive(system.lambda_c)) {
        return InvalidParameter{params.lambda_cols ? "lambda_cols" : "lambda", positive};
    }
    return solve_preconditioned(system, cg_limits(params), rhs, x, ws);
}

Status solve_preconditioned(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                            std::span<double> x, PreconditionedWorkspace& ws, Coarsening coarsening) {
    const std::uint64_t n = system.rows * system.cols;
    ws.steps = 0;
    ws.resize(system, coarsening);
    std::span<double> r(ws.residual), z(ws.preconditioned), p(ws.direction), q(ws.product);

    auto [bnorm, rr] = starting_residual(system, rhs, x, r, q, limits.row_scale);
    if (std::sqrt(rr) / bnorm <= limits.tol) return ok;

    if (auto ready = ws.multigrid.setup(system); !ready) return ready;
    ws.multigrid.apply(r, z);
    std::copy(z.begin(), z.end(), p.begin());
    double rz = dot(r, z);
    for (std::uint64_t iteration = 0; iteration < limits.max_iter; ++iteration) {
        if (is_non_finite(rz) || rz <= 0.0) {
            return LinearSolveFailed{"2D Whittaker multigrid preconditioner gave a non-positive or non-finite r.z"};
        }
        apply_system(system, p, q);
        const double pq = dot(p, q);
        // Positive for every direction but zero, at any scale: no absolute threshold.
        if (is_non_finite(pq) || pq <= 0.0) {
            return LinearSolveFailed{"2D Whittaker preconditioned conjugate-gradient denominator vanished"};
        }
        const double alpha = rz / pq;
        ++ws.steps;
        rr = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = x[k] + alpha * p[k];
            r[k] = r[k] - alpha * q[k];
            rr = rr + square_in(limits.row_scale, k, r[k]);
        }
        if (std::sqrt(rr) / bnorm <= limits.tol) return finite(x);
        ws.multigrid.apply(r, z);
        const double rz_next = dot(r, z);
        const double beta = rz_next / rz;
        for (std::size_t k = 0; k < n; ++k) p[k] = z[k] + beta * p[k];
        rz = rz_next;
    }
    limits.stopped_short();
    return finite(x);
}

}  // namespace quorvel::two_d::whittaker
