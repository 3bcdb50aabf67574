// A polynomial basis orthonormal under the fit's weights, so every weighted least-squares polynomial is two
// passes over the samples and no normal equations (whose conditioning squares the basis') are ever formed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace quorvel::polynomial {

struct OrthogonalBasis {
    std::size_t samples = 0, terms = 0;
    std::vector<double> columns;       // terms columns of `samples` values, orthonormal under the weights
    std::vector<double> coefficients;  // scratch of `terms` values

    std::span<const double> column(std::size_t k) const {
        return std::span(columns).subspan(k * samples, samples);
    }
};

// The columns T_0(t) ... T_{terms-1}(t) at positions t in [-1, 1].
void chebyshev_columns(std::span<const double> t, std::size_t terms, OrthogonalBasis& basis);

// The columns T_a(x_i) T_b(z_j) of a surface's terms (a, b) at the points (i, j), row-major.
void surface_columns(std::span<const double> x, std::span<const double> z,
                     std::span<const std::array<std::uint64_t, 2>> terms, OrthogonalBasis& basis);

// Makes the columns orthonormal in sum_i w_i f_i g_i (one weight per sample) by classical Gram-Schmidt, twice,
// which keeps an order-10 fit as accurate as a QR solve.
Status orthogonalise(std::span<const double> weights, OrthogonalBasis& basis);

// out = the weighted least-squares polynomial through v, evaluated at every sample (also where the weight is 0).
void project(OrthogonalBasis& basis, std::span<const double> weights, std::span<const double> v,
             std::span<double> out);

}  // namespace quorvel::polynomial
