// Corner cutting (Liu et al., Analyst 140 (2015) 7984): each iteration removes every used sample that lies
// strictly above the straight line between its remaining neighbours (a corner of the polyline the remaining
// samples draw), until none is left or after max_iter iterations; the baseline is then the quadratic Bezier
// spline of the remaining samples: from the first sample through the midpoints of successive remaining samples
// to the last, each piece bent towards the sample between its ends, evaluated exactly at every sample position.
// The end samples always remain. When every corner is gone the remaining samples are the lower convex hull, so
// any background, convex, concave or flat, leaves a curve under the data's peaks. O(n · iterations).
//
// Masked-out samples are never kept; the spline still gives them a value, level beyond the first and last kept
// sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"

namespace quorvel::clipping {

struct CornerCuttingWorkspace {
    std::vector<std::size_t> kept, next;
};

// x: the sample positions (strictly increasing or decreasing), or empty for the indices. `history`, when given,
// receives how many samples each iteration removed. Converged: an iteration found no corner.
Result<FitReport> corner_cutting_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                      std::uint64_t max_iter, std::span<double> baseline,
                                      CornerCuttingWorkspace& work, std::vector<double>* history);

}  // namespace quorvel::clipping
