// Grid axes whose positions are not evenly spaced: the per-axis penalties that every product, band fill and
// first-difference term of a grid system reads in place of the index's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "grid_transfer.hpp"

namespace quorvel::two_d::whittaker {

// One axis of m points under differences of one order: D'D's element (t, t + s) for |s| <= order, 0 past the ends,
// and the first differences' weight of each pair of neighbours, 1 / step^2. An evenly spaced axis holds the
// index's elements and weights of 1.
struct AxisSpacing {
    std::uint64_t m = 0;
    unsigned order = 0;
    std::vector<double> entries;  // 2 order + 1 per point
    std::vector<double> gains;    // m - 1
    std::vector<double> t;        // the positions in units of their mean step; empty on an even axis
    double bound = 0.0;           // above the spectrum of diag(D'D)^-1 D'D, for the multigrid's smoother

    std::uint64_t width() const { return 2 * order + 1; }
    double at(std::uint64_t t, std::int64_t s) const {
        return entries[t * width() + static_cast<std::uint64_t>(s + static_cast<std::int64_t>(order))];
    }
};

// Each axis measured in units of its mean step, as spectra are (whittaker/uneven.hpp), so lambda keeps its
// meaning along it.
struct UnevenGrid {
    bool active = false;  // false: both axes evenly spaced or without positions, and the index's penalties hold
    AxisSpacing rows, cols;
    std::span<const double> x, z;  // the positions of an uneven axis; empty for an even one
    std::vector<double> scratch;
};

// Checks x (one per row) and z (one per column) as every method does and prepares the penalties of orders order_r
// and order_c (below the axes' lengths) when either axis is uneven; steps within whittaker::even_step_tolerance
// of their mean count as even, so a grid with both even keeps the index's bits.
Status prepare_uneven_grid(UnevenGrid& grid, std::span<const double> x, std::span<const double> z, std::uint64_t rows,
                           std::uint64_t cols, unsigned order_r, unsigned order_c);

// The axis of the coarser grid `transfer` leads to, as multigrid rediscretises it: an even axis stays even, an
// uneven one keeps every other position of an odd axis, the midpoints of the pairs of an even one, in units of
// their own mean step (so its lambda scales by 4^-order as an even axis's does).
void assign_coarser(AxisSpacing& coarse, const AxisSpacing& fine, const AxisTransfer& transfer);

}  // namespace quorvel::two_d::whittaker
