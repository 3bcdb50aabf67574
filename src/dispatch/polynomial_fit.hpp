// The polynomial family's fits of a spectrum or a grid, apart from the fixed-default module's polynomial.
#pragma once

#include <span>
#include <vector>

#include "options.hpp"
#include "polynomial/fit_setup.hpp"

namespace quorvel::dispatch {

Result<FitReport> polynomial_into(const polynomial::Problem& problem, const Options& options, std::span<double> out,
                                  polynomial::FitWorkspace& ws, std::vector<double>* history);

}  // namespace quorvel::dispatch
