// The plain least-squares polynomial through the used samples, on the sample positions.
#pragma once

#include <cstdint>
#include <span>

#include "core/mask.hpp"
#include "fit_setup.hpp"

namespace quorvel::polynomial {

// Fits in an orthonormal basis (exact to rounding up to high orders); masked samples leave the fit and the
// curve is still evaluated there.
Result<FitReport> least_squares_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                     std::uint64_t order, std::span<double> out, FitWorkspace& ws);

}  // namespace quorvel::polynomial
