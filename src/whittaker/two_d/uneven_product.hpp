// The product of a grid system whose axes take their own penalties (uneven_axes.hpp).
#pragma once

#include <span>

#include "grid_system.hpp"

namespace quorvel::two_d::whittaker {

// out = (W + lambda_r T_r (x) I + lambda_c I (x) T_c) v for the system's uneven axes; the first differences are
// left to add_first_differences.
void apply_uneven(const GridSystem& system, std::span<const double> v, std::span<double> out);

}  // namespace quorvel::two_d::whittaker
