// The point-by-point term of a grid system carried to coarser grids as Q' W Q / ratio for a linear
// interpolation Q. Averaging W instead fails when neighbouring weights differ by decades (asPLS divides each
// row by its |residual|): a heavy point then pins all of its coarse neighbours, and the cycle barely helps.
#pragma once

#include <cstdint>
#include <span>

#include "grid_transfer.hpp"
#include "linalg/banded.hpp"

namespace quorvel::two_d::whittaker {

// Couplings within two points along either axis: 25 per point, stored offset by offset (the offsets row major, the
// point itself in the middle), each offset's couplings in the grid's order.
inline constexpr std::int64_t coupling_reach = 2;
inline constexpr std::size_t coupling_count = 25;
inline constexpr std::size_t coupling_centre = 12;

// coarse = Q' diag(weights) Q / ratio. `t` must be built with linear interpolation.
void galerkin_from_weights(const GridTransfer& t, std::span<const double> weights, std::span<double> coarse);
// coarse = Q' C Q / ratio for the couplings C of the finer grid.
void galerkin_from_couplings(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse);

// Bit s set where the couplings of offset s are not all zero.
std::uint32_t coupled_slots(std::span<const double> couplings, std::uint64_t size);
// out += the couplings' product with v, the middle ones and the offsets outside `slots` aside.
void add_off_centre(std::uint64_t rows, std::uint64_t cols, std::span<const double> couplings, std::uint32_t slots,
                    std::span<const double> v, std::span<double> out);
// The sum of |coupling| of point k of `size`: with it in place of the middle one, Jacobi's diagonal dominates the
// term.
double absolute_row_sum(std::span<const double> couplings, std::uint64_t size, std::size_t k);
// The off-centre couplings, scaled, into symmetric bands of a rows x cols grid (transposed: of its transpose).
void add_coupling_bands(std::uint64_t rows, std::uint64_t cols, std::span<const double> couplings, double scale,
                        bool transposed, linalg::banded::SymmetricBandedWorkspace& banded);

}  // namespace quorvel::two_d::whittaker
