// What the polynomial family's fits share: their checks, the positions and weights, and the convergence tests.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "projector.hpp"
#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"

namespace quorvel::polynomial {

struct FitWorkspace {
    std::vector<double> positions;  // in [-1, 1]
    std::vector<double> used;       // 0 at masked samples, else 1
    std::vector<double> weights;    // the fit's weights: `used`, or the method's own
    std::vector<double> work, previous;
    Projector projector;
};

struct IterationLimits {
    double tol;
    std::uint64_t max_iter;
};

// The library's checks in its order (empty data, the mask's length, the first non-finite used sample, the
// output's length, the order against the used samples, the limits), then the positions (x mapped onto [-1, 1],
// or evenly spaced) and the mask's weights in `used` and `weights`. `method` names the fit in a too-short error.
Status prepare(std::span<const double> y, std::span<const double> x, Mask mask, std::uint64_t order,
               std::span<double> out, const char* method, FitWorkspace& ws);
Status check_limits(IterationLimits limits);

// Population standard deviation of a - b over the samples of positive weight.
double used_deviation(std::span<const double> a, std::span<const double> b, std::span<const double> weights);

// ‖now - old‖ / ‖old‖ over the samples of positive weight, with ‖old‖ at least 2^-52 as the field computes it.
double relative_change(std::span<const double> old, std::span<const double> now, std::span<const double> weights);

// Records one iteration's change and says whether the loop stops (below tol or at max_iter).
bool finish_iteration(double change, std::uint64_t iteration, IterationLimits limits, FitReport& report,
                      std::vector<double>* history);

}  // namespace quorvel::polynomial
