#include "brpls_lanes.hpp"

#include "brpls_lane_run.hpp"

namespace quorvel::whittaker {
namespace {

// The Whittaker system W + lambda D'D in the lanes' band solve.
struct WhittakerSolver {
    static constexpr LinearSolveFailed failure = linalg::pentadiagonal::not_positive_definite;
    const LaneKernels& kernels;
    const WhittakerParams& params;
    linalg::PenaltyRows penalty;
    LaneSystem system;

    bool enter(LaneArrays& arrays, std::size_t l, std::span<const double> y, Mask mask, ItemOutcome& outcome) {
        return enter_lane(arrays, l, y, mask, params, outcome);
    }
    void solve(const LaneBlock& block, bool* failed) { kernels.solve_band(block, system, failed); }
};

}  // namespace

void fit_brpls_lanes(const LaneKernels& kernels, const BrPlsWeights& rule, std::span<const double> ys, std::size_t n,
                     const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks,
                     std::span<double> baselines, std::span<ItemOutcome> outcomes) {
    if (outcomes.empty()) return;
    WhittakerSolver solver{kernels, params, linalg::PenaltyRows(n, params.diff_order, params.lambda), {}};
    solver.system = {LaneSystem::Kind::Weighted, params.diff_order, &solver.penalty, nullptr, 0.0, 0.0};
    if (uneven.active) solver.system.uneven_penalty = &uneven.penalty;
    BrPlsLaneRun(kernels, solver, rule, ys, n, params.tol, params.max_iter, masks, baselines, outcomes).run();
}

}  // namespace quorvel::whittaker
