// The normal equations of a penalised spline, B'WB + lambda D'D, and the terms that methods beyond the plain
// reweighted ones add to them in the coefficients' space.
#pragma once

#include <span>
#include <vector>

#include "basis.hpp"
#include "core/error.hpp"
#include "core/mask.hpp"
#include "linalg/banded.hpp"
#include "linalg/banded_lu.hpp"

namespace quorvel::pspline {

// All off by default. A row scale leaves the system unsymmetric, which is then solved by LU with row exchanges.
struct SystemTerms {
    bool squared_weights = false;  // the data term weighs by w^2: (W'W)
    // lam_1 |D1 (y - B c)|^2, D1 the first differences of the samples, joining used neighbours only.
    double residual_slope = 0.0;
    double coefficient_slope = 0.0;            // times D1'D1 of the coefficients
    std::span<const double> penalty_scale{};   // row j of lambda D'D times penalty_scale[j]; empty: 1
};

struct SystemWorkspace {
    linalg::banded::SymmetricBandedWorkspace symmetric;
    linalg::banded::GeneralBandedWorkspace general;
    std::vector<double> rhs, coefficients, pair;
    // The residual's slope term reads neither the weights nor the iteration, so a fit forms it at its first solve
    // (band d of its matrix at slope_bands[d * m + k]); a fit's start clears `slopes_formed`.
    std::vector<double> slope_bands, slope_rhs;
    std::size_t slope_band = 0;
    bool slopes_formed = false;
};

// The residual slope's terms of a fit (slope_bands, slope_rhs) for a system of half-width `band` before them; the
// workspace's slope_band is then the system's.
void form_residual_slopes(std::span<const double> y, Mask mask, const SplineBasis& basis, double lam_1,
                          std::size_t band, SystemWorkspace& workspace);

// The coefficients of (B'W B + terms + lambda D'D) c = B'W y + terms, and the baseline B c.
Status solve_system(std::span<const double> y, std::span<const double> weights, Mask mask, const SplineBasis& basis,
                    double lambda, unsigned diff_order, const SystemTerms& terms, SystemWorkspace& workspace,
                    std::span<double> baseline);

}  // namespace quorvel::pspline
