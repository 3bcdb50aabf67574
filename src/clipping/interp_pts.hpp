// A baseline drawn through given (x, y) points: straight lines, the nearest, previous or next point's value, or
// the cubic spline through them whose third derivative is continuous at the second and second-to-last points
// (not-a-knot), as scipy.interpolate.interp1d draws them. Samples whose position lies outside the points' range
// get 0, as the reference library (pybaselines' interp_pts) gives them. The data are only checked, so masked-out
// samples get the curve like any other. O(n + L log L) for L points.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"

namespace quorvel::clipping {

enum class Interpolation : std::uint8_t { Linear, Nearest, Previous, Next, Cubic };

std::optional<Interpolation> interpolation_named(std::string_view text);

struct InterpPtsWorkspace {
    std::vector<std::pair<double, double>> points;
    std::vector<double> second, diagonal, upper, lower, rhs;
};

// points: L (x, y) pairs, x then y, in any order, x distinct; none gives a baseline of zero. x: the sample
// positions (strictly increasing or decreasing), or empty for the indices.
Result<FitReport> interp_pts_into(std::span<const double> y, std::span<const double> x,
                                  std::span<const double> points, Interpolation method, std::span<double> baseline,
                                  InterpPtsWorkspace& work);

}  // namespace quorvel::clipping
