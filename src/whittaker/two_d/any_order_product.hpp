// The product of a grid system whose difference orders are not both 2 (the default's own stencil is in
// grid_system.cpp).
#pragma once

#include <span>

#include "grid_system.hpp"

namespace quorvel::two_d::whittaker {

// out = A v. First differences that join every pair without a row factor are folded into the stencil; the
// others are left to add_first_differences.
void apply_any_order(const GridSystem& system, std::span<const double> v, std::span<double> out);

// The first differences apply_any_order folds in.
inline bool folds_first_differences(const FirstDifferences& f) {
    return f.keep.empty() && f.row_factor.empty() && !f.gained();
}

}  // namespace quorvel::two_d::whittaker
