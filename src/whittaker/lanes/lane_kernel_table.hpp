// The kernel table of one pack type. Included only by the file that picks the pack, so that each
// instruction set gets its own copy.
#pragma once

#include "lane_block.hpp"
#include "lane_rules.hpp"
#include "linalg/pentadiagonal_lanes.hpp"

namespace quorvel::whittaker::lanes {

template <class P>
void solve(const LaneBlock& b, const linalg::pentadiagonal::SecondOrderPenalty& penalty, bool* failed) {
    store_mask(linalg::pentadiagonal::factor_forward<P>(b.y, b.weights, b.n, penalty, b.factor), failed);
    linalg::pentadiagonal::back_substitute<P>(b.n, b.factor, b.factor.t);
}

template <class P>
LaneKernels make_lane_kernels() {
    return {
        P::width,
        solve<P>,
        [](const LaneBlock& b, double* sums) {
            b.keep ? negative_sums<P, true>(b, sums) : negative_sums<P, false>(b, sums);
        },
        [](const LaneBlock& b, double p, LaneChange out) {
            b.keep ? asls<P, true>(b, p, out) : asls<P, false>(b, p, out);
        },
        [](const LaneBlock& b, LaneChange out) { b.keep ? arpls<P, true>(b, out) : arpls<P, false>(b, out); },
        [](const LaneBlock& b, LaneChange out) { b.keep ? airpls<P, true>(b, out) : airpls<P, false>(b, out); },
    };
}

}  // namespace quorvel::whittaker::lanes
