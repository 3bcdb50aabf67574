// Several spectra of one length side by side: sample i of lane l at [i * width + l], and the table
// of kernels that advance all lanes of such a block by one step of the Whittaker iteration.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "linalg/difference_penalty.hpp"
#include "linalg/divided_difference_penalty.hpp"
#include "linalg/pentadiagonal_lanes.hpp"

namespace quorvel::whittaker {

// Lanes are independent: nothing computed for one lane reads another.
struct LaneBlock {
    std::size_t n;
    const double* y;
    double* weights;
    const double* keep;  // 1.0 for a used sample, 0.0 for a masked one; null when nothing is masked
    linalg::pentadiagonal::LaneFactor factor;  // its t ends as the baselines
    double* inv_d;  // the band solves' reciprocal pivots; their L is factor.l_diag, l_sub1 and l_sub2
    std::array<double*, 3> upper;  // U of the unsymmetric band solves
    double* state;  // a rule's values per sample: derpsalsa's screen, aspls' penalty scales
    // Per lane:
    const double* iteration;  // the zero-based iteration index plus one
    const double* first;      // first and last used sample, pinned by airPLS when masks are given
    const double* last;
    const double* k;          // psalsa's and derpsalsa's decay
    const double* growth;     // e^t or 10^t, for the weights that steepen with the iteration t
};

// The two sums of the relative weight change, per lane. A rule with nothing left to weight by in a lane
// leaves its weights there as they were and sets its diff_sq to NaN.
struct LaneChange {
    double* diff_sq;
    double* old_sq;
};

// A rule as the lanes run it, with the parameters of every kind.
struct LaneRule {
    enum class Kind : std::uint8_t {
        Asls, ArPls, AirPls, Iasls, DrPls, IarPls, AsPls, Psalsa, DerPsalsa, LsrPls,
        AirPlsShare,  // stops on the share below the baseline, which the caller measures (negative_sums)
    } kind;
    double p = 0.0;      // asls, iasls, psalsa, derpsalsa
    bool sample_statistics = false;  // arpls
    double lam_1 = 0.0;  // iasls
    double eta = 0.0;    // drpls
    double coef = 0.0;   // aspls
    std::span<const double> alpha{};  // aspls' first penalty scales, one per sample; empty: all 1
    double k = std::numeric_limits<double>::quiet_NaN();  // psalsa, derpsalsa; NaN: from each spectrum
    std::uint64_t smooth_half_window = 0, num_smooths = 0;  // derpsalsa
};

// The system a band solve factorises (see band_systems.hpp).
struct LaneSystem {
    enum class Kind : std::uint8_t { Weighted, Iasls, DrPls, AsPls } kind;
    unsigned order;
    const linalg::PenaltyRows* penalty;
    const linalg::PenaltyRows* first;  // drpls' D1'D1
    double lam_1, eta;
    // The same two on uneven positions, which take their place when set.
    const linalg::PenaltyBands* uneven_penalty = nullptr;
    const linalg::PenaltyBands* uneven_first = nullptr;
};

// BrPLS' posterior per lane: the noise, noise over mean peak height, and prior odds (see BrPlsPosterior).
struct LanePosterior {
    const double* sigma;
    const double* ratio;
    const double* prior;
};

// Per lane: BrPLS' sums of the squares and count of residuals below the baseline, of the heights and
// count of those above; and the change of the baseline from `previous` (the block's state) as the sums
// of squared differences and of squared previous values.
struct LaneBrPlsSums {
    double* squares;
    double* below;
    double* heights;
    double* above;
};
struct LaneBaselineChange {
    double* diff_sq;
    double* norm_sq;
};

struct LaneKernels {
    std::size_t width;
    // Baselines into factor.t; a lane whose pivot fails is flagged and holds no baseline. `solve` is the
    // Cholesky solve of the first three rules' second order, `solve_band` the LDL' (LDU for drpls) of
    // every other system.
    void (*solve)(const LaneBlock&, const linalg::pentadiagonal::SecondOrderPenalty&, bool* failed);
    void (*solve_band)(const LaneBlock&, const LaneSystem&, bool* failed);
    // Sum of |y - baseline| over the used samples below the baseline.
    void (*negative_sums)(const LaneBlock&, double* sums);
    void (*reweight)(const LaneBlock&, const LaneRule&, LaneChange);
    // BrPLS' weights, with each lane's sum of its used ones (in index order) into weight_sums.
    void (*brpls_reweight)(const LaneBlock&, LanePosterior, LaneChange, double* weight_sums);
    void (*brpls_sums)(const LaneBlock&, LaneBrPlsSums);
    void (*baseline_change)(const LaneBlock&, LaneBaselineChange);
};

LaneKernels interleaved_lane_kernels();
// `vectors` AVX2 registers (of 4 lanes each) side by side, 1 or 2; only where the CPU has AVX2.
LaneKernels avx2_lane_kernels(int vectors);

}  // namespace quorvel::whittaker
