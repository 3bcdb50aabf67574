// The P-spline family on spectra: Eilers & Marx's penalised B-splines reweighted by a Whittaker method's rule.
#pragma once

#include <span>

#include "core/grid.hpp"
#include "fit.hpp"

namespace quorvel::dispatch {

Result<FitReport> pspline_into(std::span<const double> y, Mask mask, const Options& options,
                               std::span<double> baseline, Scratch& scratch, Details* details);

// Its grid form: the tensor-product spline reweighted by each rule's grid form.
Result<FitReport> pspline_2d_into(const two_d::Grid& grid, Mask mask, const Options& options,
                                  const two_d::GridOut& out, Scratch& scratch, Details* details);

}  // namespace quorvel::dispatch
