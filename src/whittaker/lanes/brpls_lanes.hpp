// BrPLS' two loops in the lanes: fit_many's form of brpls_loops, each spectrum with the bits of its
// own fit.
#pragma once

#include <cstddef>
#include <span>

#include "lane_fit.hpp"
#include "whittaker/brpls.hpp"

namespace quorvel::whittaker {

void fit_brpls_lanes(const LaneKernels& kernels, const BrPlsWeights& rule, std::span<const double> ys, std::size_t n,
                     const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks,
                     std::span<double> baselines, std::span<ItemOutcome> outcomes);

}  // namespace quorvel::whittaker
