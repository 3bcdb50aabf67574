// Robust local regression: a low-order polynomial fitted around every sample (Cleveland 1979), made a baseline
// by asymmetric robustness weights (Ruckstuhl et al., JQSRT 68 (2001) 179) or by clipping the data at the fit
// (Komsta 2011).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"
#include "fit_setup.hpp"

namespace quorvel::polynomial {

struct LoessParams {
    double fraction;             // (0, 1]: the share of the samples in each local fit
    std::uint64_t total_points;  // the samples in each local fit instead; 0: ceil(fraction n)
    std::uint64_t order;
    double scale;                // the robustness weights' bisquare reaches scale x the residuals' MAD
    IterationLimits limits;      // at most max_iter + 1 fits
    bool symmetric_weights;      // Cleveland's weights; else samples below the fit weigh 1 (Ruckstuhl)
    bool use_threshold;          // clip the data at the fit plus num_std deviations instead of reweighting
    double num_std;
    bool use_original;
    double delta;                // fit only samples delta apart on x, the rest linearly; NaN: 1 % of x's range
};

struct LoessWorkspace {
    std::vector<double> positions, robust, work, previous, residuals, fitted_at;
    std::vector<std::size_t> fitted;
};

// Masked-out samples take no part in any local fit and get the interpolated curve. A window whose samples all
// weigh 0 takes the data's value there, and one too thin for the order falls back to a weighted mean.
Result<FitReport> loess_into(std::span<const double> y, std::span<const double> x, Mask mask,
                             const LoessParams& params, std::span<double> out, LoessWorkspace& ws,
                             std::vector<double>* history = nullptr);

}  // namespace quorvel::polynomial
