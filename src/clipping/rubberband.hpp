// Rubber band: the lower convex hull of the data, found by Andrew's monotone chain (Inf. Proc. Lett. 9 (1979)
// 216) in one sweep over the sample positions, and the straight lines between its vertices; with lam > 0
// instead a Whittaker smooth that weights the vertices 1 and every other sample 0. With several segments each
// of `segments` equal runs of samples gets its own hull, which follows concave baselines. O(n), or O(n ·
// diff_order²) with lam.
//
// Masked-out samples are never hull vertices (the reference library instead drops the vertices it masks from
// the hull of all the samples, which can leave the baseline above the data); the lines or the smooth still
// give them a value. Beyond the first and last vertex the baseline stays level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"
#include "linalg/weighted_smooth.hpp"

namespace quorvel::clipping {

struct RubberbandParams {
    std::uint64_t segments;            // 1 to the data's length
    double lam;                        // 0: straight lines
    std::uint64_t diff_order;          // 1 to 3, read only with lam
    std::uint64_t smooth_half_window;  // 0: none; else the hull is taken of the data's moving average over
                                       // 2 h + 1 samples, its ends extended along their edge lines
};

struct RubberbandWorkspace {
    std::vector<double> smoothed, weights;
    std::vector<std::size_t> hull;
    linalg::WeightedSmoothWorkspace smooth;
};

// x: the sample positions (strictly increasing or decreasing), or empty for the indices.
Result<FitReport> rubberband_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                  const RubberbandParams& params, std::span<double> baseline,
                                  RubberbandWorkspace& work);

}  // namespace quorvel::clipping
