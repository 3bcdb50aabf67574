// Morphological penalised least squares (Li et al., Analyst 138 (2013) 4483): the flat opening of the data at
// half_window, whose flat stretches sit on the baseline; the lowest sample of each stretch is an anchor. One
// Whittaker smooth then weights the anchors 1 - p and every other sample p. As the reference library does,
// the stretches that reach either end of the data give no anchor, and of equal lowest samples the first is the
// anchor. O(n · diff_order²).
//
// With p = 0 the anchors alone hold the baseline, so fewer than diff_order of them leave it undetermined: that
// is an error here (the reference library returns NaN or an arbitrary polynomial through the anchors).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "linalg/weighted_smooth.hpp"

namespace quorvel::morphology {

struct MplsParams {
    std::uint64_t half_window;  // at least 1
    double lam;                 // finite, > 0
    double p;                   // 0 to 1: the weight of the samples that are not anchors
    std::uint64_t diff_order;   // 1 to 3
};

struct MplsWorkspace {
    std::vector<double> eroded, opening, weights;  // weights: those of the last fit
    linalg::WeightedSmoothWorkspace smooth;
};

// The anchors' weights of y at half_window (1 - p at the anchors, p elsewhere) into `work.weights`, with the
// opening in `work.opening`; the error when p = 0 leaves fewer than diff_order anchors.
Status mpls_anchors(std::span<const double> y, std::uint64_t half_window, double p, unsigned diff_order,
                    MplsWorkspace& work);

Result<FitReport> mpls_into(std::span<const double> y, const MplsParams& params, std::span<double> baseline,
                            MplsWorkspace& work);

}  // namespace quorvel::morphology
