#include "chebyshev_system.hpp"

#include <algorithm>
#include <cmath>

#include "chebyshev_kernels.hpp"
#include "core/numeric.hpp"

namespace quorvel::polynomial {

bool factorise(std::span<const double> t, std::span<const double> weights, std::size_t terms,
               ChebyshevSystem& system, double most_condition) {
    const std::size_t m = terms;
    system.terms = m;
    system.rhs.assign(m, 0.0);
    system.coefficients.assign(m, 0.0);
    // T_a T_b = (T_{a+b} + T_|a-b|) / 2: the Gram matrix from the 2m - 1 weighted moments of the polynomials.
    std::vector<double> moments(2 * m - 1), gram(m * m, 0.0);
    kernels::kernels_for_this_cpu().weighted_sums(t, weights, nullptr, 2 * m - 1, moments.data());
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t b = a; b < m; ++b) gram[a * m + b] = 0.5 * (moments[a + b] + moments[b - a]);
    }
    return factorise_scaled(gram, m, system.solver, most_condition);
}

void solve_coefficients(ChebyshevSystem& system, std::span<const double> t, std::span<const double> weights,
                        std::span<const double> v) {
    const std::size_t m = system.terms;
    double* rhs = system.rhs.data();
    kernels::kernels_for_this_cpu().weighted_sums(t, weights, v.data(), m, rhs);
    std::copy(rhs, rhs + m, system.coefficients.begin());
    solve_scaled(system.solver, system.coefficients.data());
}

Change evaluate(const ChebyshevSystem& system, std::span<const double> t, std::span<double> out,
                std::span<const double> used) {
    return kernels::kernels_for_this_cpu().evaluate(t, system.coefficients.data(), system.terms, out, used);
}

}  // namespace quorvel::polynomial
