#include "surface_system.hpp"

#include <algorithm>
#include <limits>

#include "chebyshev_kernels.hpp"

namespace quorvel::polynomial {
namespace {

// T_0(x) ... T_count-1(x).
void chebyshev_at(double x, std::size_t count, std::vector<double>& values) {
    values.resize(count);
    double before = x, now = 1.0;
    for (std::size_t a = 0; a < count; ++a) {
        values[a] = now;
        const double next = 2.0 * x * now - before;
        before = now;
        now = next;
    }
}

std::uint64_t distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

// A scaled Gram matrix up to plain_condition gives the least-squares surface in one solve, as accurately as an
// orthogonalised basis. Past it, the normal equations only precondition conjugate gradients whose residuals are
// taken on the points themselves (CGLS; Björck, Numerical Methods for Least Squares Problems, 1996, 7.4), which
// reach the least-squares surface at any condition the factor survives, storing two values per point instead of
// the basis' one per term and point. A Gram matrix too ill-conditioned to factorise at all is factorised with
// a little more on its diagonal: it only preconditions.
constexpr double plain_condition = 1e4;
constexpr double first_ridge = 0x1p-50, last_ridge = 1e-6;
constexpr int most_steps = 100;

// into = A'W v: the weighted sums of v against every term.
void moments_of(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                std::span<const double> weights, std::span<const double> v, std::vector<double>& into) {
    const std::size_t cols = z.size(), bz = system.most_z + 1;
    const kernels::Kernels k = kernels::kernels_for_this_cpu();
    into.assign(terms.size(), 0.0);
    system.row_sums.resize(bz);
    for (std::size_t i = 0; i < x.size(); ++i) {
        k.weighted_sums(z, weights.subspan(i * cols, cols), v.data() + i * cols, bz, system.row_sums.data());
        chebyshev_at(x[i], system.most_x + 1, system.along_x);
        for (std::size_t t = 0; t < terms.size(); ++t) {
            into[t] += system.along_x[terms[t][0]] * system.row_sums[terms[t][1]];
        }
    }
}

// out = A c at every point; with `used`, its change over the used points.
Change evaluate_terms(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                      std::span<const double> c, std::span<double> out, std::span<const double> used) {
    const std::size_t cols = z.size(), bz = system.most_z + 1;
    const kernels::Kernels k = kernels::kernels_for_this_cpu();
    system.row_coefficients.resize(bz);
    Change total;
    for (std::size_t i = 0; i < x.size(); ++i) {
        chebyshev_at(x[i], system.most_x + 1, system.along_x);
        std::fill(system.row_coefficients.begin(), system.row_coefficients.end(), 0.0);
        for (std::size_t t = 0; t < terms.size(); ++t) {
            system.row_coefficients[terms[t][1]] += c[t] * system.along_x[terms[t][0]];
        }
        const auto row_used = used.empty() ? used : used.subspan(i * cols, cols);
        const Change row = k.evaluate(z, system.row_coefficients.data(), bz, out.subspan(i * cols, cols), row_used);
        total.distance2 += row.distance2;
        total.norm2 += row.norm2;
    }
    return total;
}

double dot(std::span<const double> a, std::span<const double> b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
    return sum;
}

double weighted_square(std::span<const double> weights, std::span<const double> v) {
    double sum = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) sum += weights[i] * v[i] * v[i];
    return sum;
}

// From the normal equations' solution in system.coefficients to the least-squares one: preconditioned CGLS,
// until a step lowers the weighted squared residual by no more than its rounding.
void conjugate_gradients(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                         std::span<const double> weights, std::span<const double> v) {
    auto& c = system.coefficients;
    auto& r = system.residual;
    auto& q = system.product;
    r.resize(v.size());
    q.resize(v.size());
    (void)evaluate_terms(system, x, z, terms, c, r, {});
    for (std::size_t i = 0; i < v.size(); ++i) r[i] = v[i] - r[i];
    moments_of(system, x, z, terms, weights, r, system.gradient);
    system.direction = system.gradient;
    solve_scaled(system.solver, system.direction.data());
    double gamma = dot(system.gradient, system.direction);
    system.preconditioned.resize(c.size());
    for (int step = 0; step < most_steps && gamma > 0.0; ++step) {
        (void)evaluate_terms(system, x, z, terms, system.direction, q, {});
        const double curvature = weighted_square(weights, q);
        if (!(curvature > 0.0)) return;
        const double alpha = gamma / curvature;
        for (std::size_t t = 0; t < c.size(); ++t) c[t] += alpha * system.direction[t];
        double left = 0.0;  // the weighted squared residual, in the same pass
        for (std::size_t i = 0; i < r.size(); ++i) {
            r[i] -= alpha * q[i];
            left += weights[i] * r[i] * r[i];
        }
        if (alpha * gamma <= 0x1p-52 * left) return;
        moments_of(system, x, z, terms, weights, r, system.gradient);
        std::copy(system.gradient.begin(), system.gradient.end(), system.preconditioned.begin());
        solve_scaled(system.solver, system.preconditioned.data());
        const double next = dot(system.gradient, system.preconditioned), beta = next / gamma;
        for (std::size_t t = 0; t < c.size(); ++t) {
            system.direction[t] = system.preconditioned[t] + beta * system.direction[t];
        }
        gamma = next;
    }
}

}  // namespace

bool factorise_surface(std::span<const double> x, std::span<const double> z, Terms terms,
                       std::span<const double> weights, SurfaceSystem& system) {
    system.most_x = system.most_z = 0;
    for (const auto& term : terms) {
        system.most_x = std::max(system.most_x, term[0]);
        system.most_z = std::max(system.most_z, term[1]);
    }
    const std::size_t px = 2 * system.most_x + 1, pz = 2 * system.most_z + 1, cols = z.size();
    if (pz > 2 * kernels::most_terms) return false;
    std::vector<double> moments(px * pz, 0.0);
    const kernels::Kernels k = kernels::kernels_for_this_cpu();
    system.row_sums.resize(pz);
    for (std::size_t i = 0; i < x.size(); ++i) {
        k.weighted_sums(z, weights.subspan(i * cols, cols), nullptr, pz, system.row_sums.data());
        chebyshev_at(x[i], px, system.along_x);
        for (std::size_t p = 0; p < px; ++p) {
            for (std::size_t q = 0; q < pz; ++q) moments[p * pz + q] += system.along_x[p] * system.row_sums[q];
        }
    }
    const std::size_t m = terms.size();
    std::vector<double> gram(m * m, 0.0);
    const auto mu = [&](std::uint64_t p, std::uint64_t q) { return moments[p * pz + q]; };
    for (std::size_t r = 0; r < m; ++r) {
        for (std::size_t c = r; c < m; ++c) {
            const auto [a, b] = terms[r];
            const auto [a2, b2] = terms[c];
            const std::uint64_t sx = a + a2, dx = distance(a, a2), sz = b + b2, dz = distance(b, b2);
            gram[r * m + c] = 0.25 * ((mu(sx, sz) + mu(sx, dz)) + (mu(dx, sz) + mu(dx, dz)));
        }
    }
    system.coefficients.assign(m, 0.0);
    constexpr double any_condition = std::numeric_limits<double>::infinity();
    std::vector<double> scaled = gram;
    system.refine = false;
    for (double ridge = 0.0; !factorise_scaled(scaled, m, system.solver, any_condition, ridge); scaled = gram) {
        if (ridge >= last_ridge) return false;
        ridge = ridge == 0.0 ? first_ridge : 16.0 * ridge;
        system.refine = true;
    }
    system.refine = system.refine || system.solver.condition > plain_condition;
    return true;
}

void solve_surface(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                   std::span<const double> weights, std::span<const double> v) {
    moments_of(system, x, z, terms, weights, v, system.coefficients);
    solve_scaled(system.solver, system.coefficients.data());
    if (system.refine) conjugate_gradients(system, x, z, terms, weights, v);
}

Change evaluate_surface(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                        std::span<double> out, std::span<const double> used) {
    return evaluate_terms(system, x, z, terms, system.coefficients, out, used);
}

}  // namespace quorvel::polynomial
