// The weighted least-squares polynomial through any data, set up once per set of weights: by the Chebyshev
// normal equations where they are well conditioned, else on an orthogonalised basis.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "basis.hpp"
#include "chebyshev_system.hpp"
#include "core/error.hpp"

namespace quorvel::polynomial {

struct Projector {
    ChebyshevSystem system;
    OrthogonalBasis basis;
    bool orthogonal = false;    // the basis serves, not the system
    std::vector<double> before;  // the curve before a tracked projection (orthogonal path)
};

Status prepare_projector(std::span<const double> t, std::span<const double> weights, std::size_t terms,
                         Projector& projector);

// out = the fit through v at every sample.
void project(Projector& projector, std::span<const double> t, std::span<const double> weights,
             std::span<const double> v, std::span<double> out);

// As project, returning the relative change of out over the samples where `used` is positive.
double project_tracking(Projector& projector, std::span<const double> t, std::span<const double> weights,
                        std::span<const double> v, std::span<double> out, std::span<const double> used);

}  // namespace quorvel::polynomial
