// The plain least-squares polynomial (or surface) through the used samples, on the sample positions.
#pragma once

#include <span>

#include "fit_setup.hpp"

namespace quorvel::polynomial {

// Fits in an orthonormal basis (exact to rounding up to high orders); masked samples leave the fit and the
// curve is still evaluated there.
Result<FitReport> least_squares_into(const Problem& problem, std::span<double> out, FitWorkspace& ws);

}  // namespace quorvel::polynomial
