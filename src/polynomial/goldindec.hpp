// Goldindec (Liu et al., Appl. Spectrosc. 69 (2015) 834): penalized_poly's half-quadratic fit under an asymmetric
// cost, its threshold found by a golden-section search until the share of samples above the baseline matches
// the share the peaks take. Spectra only; masked-out samples are left out of every fit and of the counts above
// and below the baseline, which the polynomial carries across them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit_setup.hpp"
#include "penalized_poly.hpp"

namespace quorvel::polynomial {

struct GoldindecParams {
    PenalizedPolyParams fit;  // its threshold is searched for, not read
    double peak_ratio;        // in (0, 1): the share of the samples the peaks take
    double tol_2;             // stop once the up-down ratio is within this of the one peak_ratio asks for
    double tol_3;             // or once the threshold's relative change is below this
    std::uint64_t max_iter_2;  // the most thresholds tried
};

// The up-down ratio (samples above the baseline over those below) the paper fits to the peak ratio p:
// 0.7679 + 11.2358 p - 39.7064 p² + 92.3583 p³.
double goldindec_up_down_target(double peak_ratio);

// Each threshold's fit starts from the least-squares fit, as penalized_poly; the search starts on
// [0, largest residual of that fit] and keeps the part that holds the target ratio, trying the point 0.618 of
// the way up it. The report counts every half-quadratic iteration (all in `history`), `outer` the thresholds
// tried; converged when the search stopped on tol_2 or tol_3 and its last fit on tol.
Result<FitReport> goldindec_into(const Problem& problem, const GoldindecParams& params, std::span<double> out,
                                 FitWorkspace& ws, std::vector<double>* history = nullptr,
                                 std::uint64_t* outer = nullptr);

}  // namespace quorvel::polynomial
