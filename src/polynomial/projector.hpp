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
// For a surface's terms; its orthogonal basis always serves.
Status prepare_surface_projector(std::span<const double> x, std::span<const double> z,
                                 std::span<const std::array<std::uint64_t, 2>> terms, std::span<const double> weights,
                                 Projector& projector);

// out = the fit through v at every sample (t: the positions of a spectrum; a surface's basis ignores it).
void project(Projector& projector, std::span<const double> t, std::span<const double> weights,
             std::span<const double> v, std::span<double> out);

// As project, returning the relative change of out over the samples where `used` is positive.
double project_tracking(Projector& projector, std::span<const double> t, std::span<const double> weights,
                        std::span<const double> v, std::span<double> out, std::span<const double> used);

}  // namespace quorvel::polynomial
