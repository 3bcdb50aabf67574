// Alternating-line Gauss-Seidel for the multigrid's grids: every step solves the system exactly along each line of
// one axis in turn, then of the other. Point smoothing damps only the errors that are rough along the axis smoothed
// more strongly; where uneven axes make that axis change from place to place (short steps across, long ones along),
// a line solve damps every error that is rough along its line whatever the other axis does.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "grid_system.hpp"

namespace quorvel::two_d::whittaker {

// The lines of one axis, in a layout where each is contiguous: line t holds [t length, (t + 1) length).
struct LineSide {
    std::uint64_t lines = 0, length = 0;
    unsigned reach = 0;  // the order across the lines: line t meets lines t - reach .. t + reach
    unsigned band = 0;   // the order along them
    std::vector<double> cross;  // (2 reach + 1) per line: its coupling to line t + s at [t (2 reach + 1) + s + reach]
    std::vector<double> first;  // per pair of neighbouring lines, their first differences' weight; empty: none
    std::vector<double> keep;   // the kept points in this layout; empty: all
    std::vector<double> lower;  // band per point: L(j, j - k) of its line's factor L D L' at [point band + k - 1]
    std::vector<double> inverse_pivot;  // 1 / D(j) per point
    std::vector<double> zeros;          // a line's length of them, for the lines past either end

    void resize(std::uint64_t line_count, std::uint64_t line_length, unsigned across, unsigned along);
};

struct LineSmoother {
    LineSide rows;  // lines along each grid row, in the grid's layout
    LineSide cols;  // lines down each grid column, in the transposed layout
    std::vector<double> x, b;  // the transposed iterate and right-hand side

    void resize(std::uint64_t grid_rows, std::uint64_t grid_cols, unsigned order_r, unsigned order_c);
    // Factors every line of both axes; the system must be symmetric (no row factor).
    Status setup(const GridSystem& system);
    // x = the forward sweeps along the rows, then the columns, from x = 0.
    void pre_smooth(std::span<const double> b, std::span<double> x);
    // The backward sweeps of the columns, then the rows: pre_smooth's adjoint, so a V-cycle with both stays symmetric.
    void post_smooth(std::span<const double> b, std::span<double> x);
};

}  // namespace quorvel::two_d::whittaker
