// Sample positions that are not evenly spaced, as the Whittaker penalties take them.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/abscissa.hpp"
#include "core/error.hpp"
#include "linalg/divided_difference_penalty.hpp"

namespace quorvel::whittaker {

// Steps that all lie within this share of their mean count as even: np.linspace's, and positions read back
// from a file with a few decimals. Their penalty would differ from the index's by under 1 % (a step's share
// enters it to the power 2 diff_order).
inline constexpr double even_step_tolerance = 1e-3;

bool evenly_spaced(std::span<const double> x);

// t = (x - x[0]) (n - 1) / (x[n-1] - x[0]) for an x of n >= 2 checked positions; refuses steps that vanish in
// these units. Errors name x as `name`.
Status unit_step_positions(std::span<const double> x, std::vector<double>& t, const char* name = "x");

// What a fit on uneven positions x keeps: t = (x - x[0]) (n - 1) / (x[n-1] - x[0]), positions in units of
// their mean step (increasing also for a decreasing x), and the penalties on t.
struct UnevenPenalties {
    bool active = false;           // false: the fit runs on the index
    std::vector<double> t;
    Abscissa mapped{};             // x mapped onto [-1, 1], for iasls' quadratic start
    linalg::PenaltyBands penalty;  // lambda D'D of the fit's order
    linalg::PenaltyBands first;    // D1'D1, for the rules that also penalise first differences
};

// Checks x against n samples as every method does (length, finite, strictly monotonic) and prepares the
// penalties when x is uneven; an empty or evenly spaced x leaves the fit on the index, whose bits it keeps.
Status prepare_uneven(UnevenPenalties& uneven, std::span<const double> x, std::size_t n, unsigned order,
                      double lambda);

}  // namespace quorvel::whittaker
