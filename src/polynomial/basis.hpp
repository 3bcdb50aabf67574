// A polynomial basis orthonormal under the fit's weights, so every weighted least-squares polynomial is two
// passes over the samples and no normal equations (whose conditioning squares the basis') are ever formed.
#pragma once

#include <cstddef>
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

// The basis of the polynomials of degree below `terms` at positions `t` (in [-1, 1]), orthonormal in
// sum_i w_i f(t_i) g(t_i). Starts from Chebyshev polynomials and orthogonalises
// them twice (classical Gram-Schmidt), which keeps order 10 as accurate as a QR solve. `weights` has one
// value per position.
Status orthogonalise(std::span<const double> t, std::span<const double> weights, std::size_t terms,
                     OrthogonalBasis& basis);

// out = the weighted least-squares polynomial through v, evaluated at every sample (also where the weight is 0).
void project(OrthogonalBasis& basis, std::span<const double> weights, std::span<const double> v,
             std::span<double> out);

}  // namespace quorvel::polynomial
