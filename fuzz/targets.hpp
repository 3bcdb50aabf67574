// The fuzz targets; the first input byte picks one. fuzz/make_seeds.py numbers them in this
// order, so append new targets at the end.
#pragma once

#include <array>

#include "byte_reader.hpp"

namespace quorvel::fuzz {

// Top-level dispatch (dispatch_targets.cpp).
void dispatch_1d(ByteReader& in);
void dispatch_2d(ByteReader& in);
void method_names(ByteReader& in);
// Linear algebra (linalg_targets.cpp).
void pentadiagonal_solve(ByteReader& in);
void pentadiagonal_factor(ByteReader& in);
void banded_solve(ByteReader& in);
void dense_solve(ByteReader& in);
// One-dimensional Whittaker smoothing (whittaker_targets.cpp).
void whittaker_fit(ByteReader& in);
void whittaker_weights(ByteReader& in);
void whittaker_many(ByteReader& in);
// One-dimensional morphology and polynomial (line_targets.cpp).
void moving_extrema(ByteReader& in);
void rolling_ball(ByteReader& in);
void polynomial(ByteReader& in);
void polynomial_masked(ByteReader& in);
// Grids (grid_targets.cpp).
void grid_rolling_ball(ByteReader& in);
void grid_polynomial(ByteReader& in);
void grid_whittaker(ByteReader& in);
void grid_whittaker_parts(ByteReader& in);
// Caller-chosen parameters and masks, one item and blocks (tunable_targets.cpp).
void tunable_1d(ByteReader& in);
void tunable_2d(ByteReader& in);
void grid_preconditioned(ByteReader& in);

using Target = void (*)(ByteReader&);
inline constexpr std::array<Target, 21> targets{
    dispatch_1d,   dispatch_2d,    method_names,  pentadiagonal_solve, pentadiagonal_factor, banded_solve,
    dense_solve,   whittaker_fit,  whittaker_weights, moving_extrema,  rolling_ball,         polynomial,
    grid_rolling_ball, grid_polynomial, grid_whittaker, grid_whittaker_parts, whittaker_many, polynomial_masked,
    tunable_1d, tunable_2d, grid_preconditioned,
};

}  // namespace quorvel::fuzz
