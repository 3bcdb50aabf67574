// The plain least-squares polynomial (or surface) through the used samples, on the sample positions.
#pragma once

#include <span>

#include "fit_setup.hpp"

namespace quorvel::polynomial {

// Fits in the Chebyshev basis (see projector.hpp and surface_system.hpp); masked samples leave the fit and the
// curve is still evaluated there.
Result<FitReport> least_squares_into(const Problem& problem, std::span<double> out, FitWorkspace& ws);

}  // namespace quorvel::polynomial
