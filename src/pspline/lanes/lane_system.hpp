// The penalised spline's system for several spectra on one basis: sample i of lane l at [i * width + l], and the
// kernels that solve it for every lane at once.
#pragma once

#include <cstddef>

#include "linalg/difference_penalty.hpp"
#include "pspline/basis.hpp"

namespace quorvel::pspline {

// Row j of lambda D'D scaled by each lane's values carried to basis function j's middle (1 - eta times them where
// `relaxed`), the rows then solved by LU with row exchanges.
struct LaneScaledPenalty {
    const MiddlePlan* plan;
    const double* values;  // per sample, per lane
    bool relaxed;
    double eta;
    double* scale;  // per coefficient, per lane
    double* lu;     // GeneralBandedWorkspace's layout, per lane
    double* pivots;
};

// B'WB + lambda D'D and B'Wy of every lane, its factor in place, and the baselines B c. Only the weights and the
// data differ between lanes; the basis and the penalty are broadcast.
struct LaneSpline {
    std::size_t n, band;  // samples; half-width of the system, max(degree, diff_order)
    unsigned diff_order;
    const SplineBasis* basis;
    const linalg::PenaltyRows* penalty;
    const double* y;
    const double* weights;
    bool squared_weights;  // B'W'WB and B'W'Wy
    double coefficient_slope;  // times D1'D1 of the coefficients
    const LaneScaledPenalty* scaled;  // null: the penalty as it is
    // A residual slope's terms per lane, half-width `band` (see form_residual_slopes); null without them.
    const double* slope_bands;
    const double* slope_rhs;
    double* baselines;
    // (band + 1) * coefficients, then three arrays of coefficients, each times the lane count.
    double* bands;
    double* rhs;
    double* intermediate;
    double* coefficients;
};

// IrsqrWeights::reweight per lane: the weights from the baselines, and the two sums of the coefficients' change
// (moved, size), with `previous` taking the coefficients.
struct LaneIrsqr {
    double quantile, eps;
    const double* keep;  // 1.0 for a used sample, 0.0 for a masked one; null when nothing is masked
    double* weights;
    double* previous;    // each lane's coefficients of the solve before
    double* moved;
    double* size;
};

// MixtureEm::reweight per lane, each lane's EM state (sigma, the three shares) carried in per-lane arrays and set
// where `first` (1.0 at a lane's first reweighting); the change as its two sums.
struct LaneMixture {
    double p;
    bool symmetric;
    const double* keep;  // as LaneIrsqr's
    double* weights;
    const double* first;
    double* sigma;
    double* noise;  // the shares: noise, peaks above and below the baseline
    double* above;
    double* below;
    double* distance2;
    double* norm2;
};

struct SplineLaneKernels {
    std::size_t width;
    // A lane whose factor meets a pivot that is not positive is flagged and holds no baseline.
    void (*solve)(const LaneSpline&, bool* failed);
    void (*irsqr)(const LaneSpline&, const LaneIrsqr&);
    void (*mixture)(const LaneSpline&, const LaneMixture&);
    // values[i] = simd::exp_nonpositive(values[i]) for count a multiple of width: for a single fit's samples.
    void (*exps)(double* values, std::size_t count);
};

SplineLaneKernels interleaved_spline_kernels();
// Only where the CPU has AVX2.
SplineLaneKernels avx2_spline_kernels();
// AVX2's where the CPU has it, otherwise the interleaved ones.
SplineLaneKernels spline_kernels();

}  // namespace quorvel::pspline
