// Several spectra of one length side by side: sample i of lane l at [i * width + l], and the table
// of kernels that advance all lanes of such a block by one step of the Whittaker iteration.
#pragma once

#include <cstddef>

#include "linalg/pentadiagonal_lanes.hpp"

namespace quorvel::whittaker {

// Lanes are independent: nothing computed for one lane reads another.
struct LaneBlock {
    std::size_t n;
    const double* y;
    double* weights;
    const double* keep;  // 1.0 for a used sample, 0.0 for a masked one; null when nothing is masked
    linalg::pentadiagonal::LaneFactor factor;  // its t ends as the baselines
    // Per lane:
    const double* iteration;  // the zero-based iteration index plus one
    const double* first;      // first and last used sample, pinned by airPLS when masks are given
    const double* last;
};

// The two sums of the relative weight change, per lane.
struct LaneChange {
    double* diff_sq;
    double* old_sq;
};

struct LaneKernels {
    std::size_t width;
    // Baselines into factor.t; a lane whose pivot fails is flagged and holds no baseline.
    void (*solve)(const LaneBlock&, const linalg::pentadiagonal::SecondOrderPenalty&, bool* failed);
    // Sum of |y - baseline| over the used samples below the baseline.
    void (*negative_sums)(const LaneBlock&, double* sums);
    void (*asls)(const LaneBlock&, double p, LaneChange);
    void (*arpls)(const LaneBlock&, LaneChange);
    void (*airpls)(const LaneBlock&, LaneChange);
};

LaneKernels interleaved_lane_kernels();
// `vectors` AVX2 registers (of 4 lanes each) side by side, 1 to 3; only where the CPU has AVX2.
LaneKernels avx2_lane_kernels(int vectors);

}  // namespace quorvel::whittaker
