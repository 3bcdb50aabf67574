#include "bicgstab.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::two_d::whittaker {
namespace {

double dot(std::span<const double> a, std::span<const double> b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum = sum + a[k] * b[k];
    return sum;
}

double squared_norm(std::span<const double> row_scale, std::span<const double> v) {
    double sum = 0.0;
    for (std::size_t k = 0; k < v.size(); ++k) sum = sum + square_in(row_scale, k, v[k]);
    return sum;
}

// The residual is a recurrence, so an overflow in x need not show in it.
Status finite(std::span<const double> x) {
    if (first_non_finite(x)) return LinearSolveFailed{"2D Whittaker BiCGSTAB diverged"};
    return ok;
}

struct Preconditioner {
    Multigrid* multigrid;

    // out = M^-1 v, or v itself without a multigrid.
    std::span<const double> apply(std::span<const double> v, std::span<double> out) const {
        if (!multigrid) return v;
        multigrid->apply(v, out);
        return out;
    }
};

}  // namespace

void BicgstabWorkspace::resize(std::size_t n) {
    for (auto* buffer : {&residual, &shadow, &direction, &product, &half, &half_product, &preconditioned,
                         &half_preconditioned, &best}) {
        buffer->resize(n, 0.0);
    }
}

Status solve_bicgstab(const GridSystem& system, const GridSystem& neighbour, CgLimits limits,
                      std::span<const double> rhs, std::span<double> x, BicgstabWorkspace& ws, Multigrid* multigrid) {
    const std::size_t n = rhs.size();
    ws.steps = 0;
    ws.resize(n);
    std::span<double> r(ws.residual), shadow(ws.shadow), p(ws.direction), v(ws.product), s(ws.half),
        t(ws.half_product);
    const StartingResidual start = starting_residual(system, rhs, x, r, v, limits.row_scale);
    const double bnorm = start.bnorm, rr = start.rr;
    if (std::sqrt(rr) / bnorm <= limits.tol) return ok;
    if (multigrid) {
        multigrid->resize(neighbour);
        if (auto ready = multigrid->setup(neighbour); !ready) return ready;
    }
    const Preconditioner precondition{multigrid};

    std::copy(r.begin(), r.end(), shadow.begin());
    std::fill(p.begin(), p.end(), 0.0);
    std::fill(v.begin(), v.end(), 0.0);
    double rho = 1.0, alpha = 1.0, omega = 1.0;
    const auto converged = [&](double squared) { return std::sqrt(squared) / bnorm <= limits.tol; };
    // BiCGSTAB's residuals do not fall monotonically: a solve that ends by the cap or a breakdown returns the
    // iterate with the smallest residual, the start included.
    std::span<double> best(ws.best);
    std::copy(x.begin(), x.end(), best.begin());
    double best_rr = rr, last_rr = rr;
    const auto finish = [&] {
        limits.stopped_short();
        if (best_rr < last_rr) std::copy(best.begin(), best.end(), x.begin());
        return finite(x);
    };
    for (std::uint64_t iteration = 0; iteration < limits.max_iter; ++iteration) {
        const double rho_next = dot(shadow, r);
        if (is_non_finite(rho_next) || rho_next == 0.0) return finish();
        const double beta = (rho_next / rho) * (alpha / omega);
        for (std::size_t k = 0; k < n; ++k) p[k] = r[k] + beta * (p[k] - omega * v[k]);
        const auto p_hat = precondition.apply(p, ws.preconditioned);
        apply_system(system, p_hat, v);
        const double shadow_v = dot(shadow, v);
        if (is_non_finite(shadow_v) || shadow_v == 0.0) return finish();
        alpha = rho_next / shadow_v;
        for (std::size_t k = 0; k < n; ++k) s[k] = r[k] - alpha * v[k];
        ++ws.steps;
        const auto half_step = [&] {
            for (std::size_t k = 0; k < n; ++k) x[k] = x[k] + alpha * p_hat[k];
        };
        if (converged(squared_norm(limits.row_scale, s))) {
            half_step();
            return finite(x);
        }
        const auto s_hat = precondition.apply(s, ws.half_preconditioned);
        apply_system(system, s_hat, t);
        const double tt = dot(t, t);
        if (is_non_finite(tt) || tt == 0.0) {
            half_step();
            last_rr = squared_norm(limits.row_scale, s);
            return finish();
        }
        omega = dot(t, s) / tt;
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = x[k] + alpha * p_hat[k] + omega * s_hat[k];
            r[k] = s[k] - omega * t[k];
        }
        last_rr = squared_norm(limits.row_scale, r);
        if (converged(last_rr)) return finite(x);
        if (last_rr < best_rr) {
            best_rr = last_rr;
            std::copy(x.begin(), x.end(), best.begin());
        }
        if (omega == 0.0) return finish();
        rho = rho_next;
    }
    return finish();
}

}  // namespace quorvel::two_d::whittaker
