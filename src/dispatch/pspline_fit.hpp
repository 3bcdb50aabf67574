// The P-spline family on spectra: Eilers & Marx's penalised B-splines reweighted by a Whittaker method's rule.
#pragma once

#include <span>

#include "fit.hpp"

namespace quorvel::dispatch {

Result<FitReport> pspline_into(std::span<const double> y, Mask mask, const Options& options,
                               std::span<double> baseline, Scratch& scratch, Details* details);

}  // namespace quorvel::dispatch
