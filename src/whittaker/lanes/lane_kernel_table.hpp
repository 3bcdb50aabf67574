// The kernel table of one pack type: each rule's lane form, instantiated. Included only by the
// file that picks the pack, so that each instruction set gets its own copy.
#pragma once

#include "lane_block.hpp"
#include "lane_rows.hpp"
#include "linalg/pentadiagonal_lanes.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"

namespace quorvel::whittaker::lanes {

template <class P>
void solve(const LaneBlock& b, const linalg::pentadiagonal::SecondOrderPenalty& penalty, bool* failed) {
    store_mask(linalg::pentadiagonal::factor_forward<P>(b.y, b.weights, b.n, penalty, b.factor), failed);
    linalg::pentadiagonal::back_substitute<P>(b.n, b.factor, b.factor.t);
}

template <class P, class Rule>
void reweight(const Rule& rule, const LaneBlock& b, LaneChange out) {
    b.keep ? update_lanes<P, true>(rule, b, out) : update_lanes<P, false>(rule, b, out);
}

template <class P>
LaneKernels make_lane_kernels() {
    return {
        P::width,
        solve<P>,
        [](const LaneBlock& b, double* sums) {
            b.keep ? negative_sums<P, true>(b, sums) : negative_sums<P, false>(b, sums);
        },
        [](const LaneBlock& b, double p, LaneChange out) { reweight<P>(AslsWeights{p}, b, out); },
        [](const LaneBlock& b, LaneChange out) { reweight<P>(ArPlsWeights{}, b, out); },
        [](const LaneBlock& b, LaneChange out) { reweight<P>(AirPlsWeights{}, b, out); },
    };
}

}  // namespace quorvel::whittaker::lanes
