// Moving a grid to the grid of half its resolution and back, one axis at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::two_d::whittaker {

// Cubic interpolation suits the smoothing penalties' high order; linear keeps the Galerkin product of a
// point-by-point term within a 5 x 5 stencil on every coarser grid (see galerkin_weights.hpp).
enum class Interpolation { cubic, linear };

// Interpolation from the coarse points of one axis to its fine points. A halved axis
// of odd length m keeps every other point (both ends included); an even one puts its coarse
// points halfway between fine pairs. An axis that is not halved maps onto itself.
struct AxisTransfer {
    std::uint64_t fine = 0;
    std::uint64_t coarse = 0;
    std::vector<std::uint64_t> first;          // first of the four coarse points of each fine point
    std::vector<std::array<double, 4>> taps;   // their interpolation weights
    std::vector<double> absolute_sums;         // per coarse point, the sum of |tap| over fine points

    void build(std::uint64_t fine_length, bool halve, Interpolation kind = Interpolation::cubic);
    // The cubic taps of a halved axis at the fine points' positions t, over the same coarse points placed at
    // coarse_position: they reproduce the quadratics of t, as the index's taps do not where t is uneven.
    void place(std::span<const double> t);
    bool identity() const { return coarse == fine; }
};

// Where coarse point k of a halved axis lies among the fine positions t: every other one of an odd axis, the
// midpoint of a pair of an even one.
inline double coarse_position(std::span<const double> t, std::uint64_t k) {
    return t.size() % 2 == 1 ? t[2 * k] : 0.5 * (t[2 * k] + t[2 * k + 1]);
}

// The shortest axis that is still halved: its coarse axis has the four points a cubic needs.
inline constexpr std::uint64_t min_coarsened_axis = 7;

struct GridTransfer {
    AxisTransfer rows, cols;

    void build(std::uint64_t fine_rows, std::uint64_t fine_cols, bool halve_rows, bool halve_cols,
               Interpolation kind = Interpolation::cubic);
    std::uint64_t coarse_size() const { return rows.coarse * cols.coarse; }
    // Fine points per coarse point: 1, 2 or 4.
    double ratio() const;
};

// fine += P coarse; `scratch` holds coarse rows x fine cols.
void interpolate_add(const GridTransfer& t, std::span<const double> coarse, std::span<double> fine,
                     std::span<double> scratch);
// coarse = P^T fine / ratio: the transpose of the interpolation, scaled to an average.
void restrict_residual(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse,
                       std::span<double> scratch);
// coarse = |P|^T fine / |P|^T 1: a weighted mean with non-negative coefficients only.
void restrict_weights(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse,
                      std::span<double> scratch);

}  // namespace quorvel::two_d::whittaker
