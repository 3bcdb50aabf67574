// Weighted least squares in the Chebyshev basis by its normal equations: one pass over the samples for the
// system and one for the curve, nothing stored per sample. Only taken when the Gram matrix is well conditioned
// (the Chebyshev polynomials on [-1, 1] nearly orthogonal under the weights), where squaring its condition costs
// no accuracy that matters; otherwise the fits orthogonalise (basis.hpp).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "scaled_system.hpp"

namespace quorvel::polynomial {

struct ChebyshevSystem {
    std::size_t terms = 0;
    ScaledSystem solver;  // the Gram matrix of the weighted polynomials
    std::vector<double> rhs, coefficients;
};

// The Gram matrix sum_i w_i T_a(t_i) T_b(t_i), factorised; false when its condition number (1-norm, after
// scaling to unit diagonal) exceeds `most_condition`.
bool factorise(std::span<const double> t, std::span<const double> weights, std::size_t terms,
               ChebyshevSystem& system, double most_condition = 1e4);

// The coefficients of the weighted least-squares polynomial through v (samples of weight 0 add nothing, whatever
// they hold).
void solve_coefficients(ChebyshevSystem& system, std::span<const double> t, std::span<const double> weights,
                        std::span<const double> v);

// out = the polynomial of the last solve_coefficients at every t. With `used` given, returns the squared
// distance of the new out from the old and the old's squared norm over the samples where `used` is positive.
struct Change {
    double distance2 = 0.0, norm2 = 0.0;
};
Change evaluate(const ChebyshevSystem& system, std::span<const double> t, std::span<double> out,
                std::span<const double> used = {});

}  // namespace quorvel::polynomial
