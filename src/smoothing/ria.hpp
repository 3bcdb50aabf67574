// Range-independent algorithm (Krishna et al., J. Raman Spectrosc. 43 (2012) 1884): the data extended at one or
// both ends by ⌊width_scale n⌋ samples along the least-squares line through that many edge samples, a Gaussian of
// height height_scale max(y) and standard deviation sigma_scale (⌊width_scale n⌋ - 1) samples added to each
// extension; then the moving average of 2h + 1 samples, clipped by the extended data, pass after pass until the
// area the averaged extensions keep above their lines falls below tol times the Gaussians' (trapezoidal) area, at
// most max_iter passes. As the reference library does, each moving average reads, past the ends of the extended
// data, the lines through its two outermost samples; the pass that meets tol returns its unclipped average, and a
// pass whose area falls below -tol times the Gaussians' stops unconverged. The changes report the area's share
// in absolute value. O(n) per pass.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"

namespace quorvel::smoothing {

enum class RiaSide : std::uint8_t { Both, Left, Right };

struct RiaParams {
    std::uint64_t half_window;  // at least 1
    std::uint64_t max_iter;     // at least 1: passes, not reweightings
    double tol;                 // >= 0
    RiaSide side;
    double width_scale, height_scale, sigma_scale;  // > 0; 2 to 10 n samples added at each extended end
};

struct RiaWorkspace {
    std::vector<double> line, data, padded, gaussian, smooth;  // padded holds the baseline between its pads
};

Result<FitReport> ria_into(std::span<const double> y, const RiaParams& params, std::span<double> baseline,
                           RiaWorkspace& work, std::vector<double>* history);

}  // namespace quorvel::smoothing
