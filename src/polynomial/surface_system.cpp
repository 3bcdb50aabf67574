#include "surface_system.hpp"

#include <algorithm>

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
// orthogonalised basis. Up to refined_condition, a solve loses about condition x 2^-52 of the coefficients, and
// iterative refinement on the residual wins that back by the same factor a step (Björck, Numerical Methods for
// Least Squares Problems, 1996, 2.9), storing one value per point instead of the basis' one per term and point.
constexpr double plain_condition = 1e4, refined_condition = 1e12;
constexpr int most_refinements = 4;

void solve_once(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                std::span<const double> weights, std::span<const double> v) {
    const std::size_t cols = z.size(), bz = system.most_z + 1;
    const kernels::Kernels k = kernels::kernels_for_this_cpu();
    std::fill(system.coefficients.begin(), system.coefficients.end(), 0.0);
    system.row_sums.resize(bz);
    for (std::size_t i = 0; i < x.size(); ++i) {
        k.weighted_sums(z, weights.subspan(i * cols, cols), v.data() + i * cols, bz, system.row_sums.data());
        chebyshev_at(x[i], system.most_x + 1, system.along_x);
        for (std::size_t t = 0; t < terms.size(); ++t) {
            system.coefficients[t] += system.along_x[terms[t][0]] * system.row_sums[terms[t][1]];
        }
    }
    solve_scaled(system.solver, system.coefficients.data());
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
    const bool factorised = factorise_scaled(gram, m, system.solver, refined_condition);
    system.refine = system.solver.condition > plain_condition;
    return factorised;
}

void solve_surface(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                   std::span<const double> weights, std::span<const double> v) {
    solve_once(system, x, z, terms, weights, v);
    if (!system.refine) return;
    system.residual.resize(v.size());
    for (int step = 0; step < most_refinements; ++step) {
        (void)evaluate_surface(system, x, z, terms, system.residual);
        for (std::size_t i = 0; i < v.size(); ++i) system.residual[i] = v[i] - system.residual[i];
        system.kept = system.coefficients;
        solve_once(system, x, z, terms, weights, system.residual);
        double correction = 0.0, size = 0.0;
        for (std::size_t t = 0; t < terms.size(); ++t) {
            correction += system.coefficients[t] * system.coefficients[t];
            system.kept[t] += system.coefficients[t];
            size += system.kept[t] * system.kept[t];
        }
        system.coefficients.swap(system.kept);
        if (correction <= 0x1p-104 * size) return;
    }
}

Change evaluate_surface(SurfaceSystem& system, std::span<const double> x, std::span<const double> z, Terms terms,
                        std::span<double> out, std::span<const double> used) {
    const std::size_t cols = z.size(), bz = system.most_z + 1;
    const kernels::Kernels k = kernels::kernels_for_this_cpu();
    system.row_coefficients.resize(bz);
    Change total;
    for (std::size_t i = 0; i < x.size(); ++i) {
        chebyshev_at(x[i], system.most_x + 1, system.along_x);
        std::fill(system.row_coefficients.begin(), system.row_coefficients.end(), 0.0);
        for (std::size_t t = 0; t < terms.size(); ++t) {
            system.row_coefficients[terms[t][1]] += system.coefficients[t] * system.along_x[terms[t][0]];
        }
        const auto row_used = used.empty() ? used : used.subspan(i * cols, cols);
        const Change row = k.evaluate(z, system.row_coefficients.data(), bz, out.subspan(i * cols, cols), row_used);
        total.distance2 += row.distance2;
        total.norm2 += row.norm2;
    }
    return total;
}

}  // namespace quorvel::polynomial
