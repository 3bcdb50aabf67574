// The weighted grid smoothing system W + lambda_r T(rows) (x) I + lambda_c I (x) T(cols), T = D'D for differences
// of an order of each axis's own, with a first-difference term where a rule asks for one, as one value that the
// banded solve, the Krylov solvers and every multigrid level take.
#pragma once

#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "linalg/banded.hpp"
#include "linalg/banded_lu.hpp"

namespace quorvel::two_d::whittaker {

struct UnevenGrid;

// lambda_r D1'K D1 (x) I + lambda_c I (x) D1'K D1: K joins a pair of neighbours only where both are kept, as
// IAsLS' first differences of the residual must skip masked points. row_factor multiplies each row of the term
// (drPLS' rows divided by their penalty scale), which makes the system unsymmetric. On uneven axes each pair
// weighs 1 / step^2 (its gain), the square of its divided difference.
struct FirstDifferences {
    double lambda_r = 0.0;
    double lambda_c = 0.0;
    std::span<const double> keep{};        // 1 for a kept point, 0 otherwise; empty: all kept
    std::span<const double> row_factor{};  // empty: 1
    std::span<const double> gain_r{}, gain_c{};  // per pair of neighbours across rows and along them; empty: 1

    bool present() const { return lambda_r != 0.0 || lambda_c != 0.0; }
    bool gained() const { return !gain_r.empty(); }
    // The gain of pair (t, t + 1) of an axis.
    static double gain(std::span<const double> gains, std::uint64_t t) { return gains.empty() ? 1.0 : gains[t]; }
    // The term's diagonal at point (i, j) of a rows x cols grid, row_factor aside.
    double diagonal(std::uint64_t rows, std::uint64_t cols, std::uint64_t i, std::uint64_t j) const;
    // The pair (k, l) of neighbours is joined.
    bool joins(std::size_t k, std::size_t l) const { return keep.empty() || (keep[k] != 0.0 && keep[l] != 0.0); }
};

struct GridSystem {
    std::uint64_t rows;
    std::uint64_t cols;
    double lambda_r;  // across rows
    double lambda_c;  // along each row
    std::span<const double> weights;  // rows * cols, row-major
    FirstDifferences first{};
    unsigned order_r = 2;  // the difference order across rows, 1 to 3, below rows
    unsigned order_c = 2;  // along each row, below cols
    const UnevenGrid* uneven = nullptr;  // the axes' own penalties where either is uneven (uneven_axes.hpp)

    bool second_order() const { return order_r == 2 && order_c == 2; }
    // The first differences given, with the axes' gains where uneven.
    FirstDifferences with_gains(FirstDifferences first) const;
    // Of the symmetric band storage: a row's neighbours order_r rows away are the farthest.
    std::uint64_t bandwidth() const { return order_r * cols; }
};

// Conjugate gradients stop once |residual| <= tol max(|rhs|, 1), or after max_iter steps. A system whose
// rows were divided by row_scale (when given) measures both after multiplying them back: the rows it
// divided most would otherwise outweigh all others in either norm.
struct CgLimits {
    std::uint64_t max_iter;
    double tol;
    std::span<const double> row_scale{};
    std::uint64_t* short_solves = nullptr;  // when given, counts the solves that end short of tol

    // A solve returns its last iterate without meeting tol.
    void stopped_short() const {
        if (short_solves) ++*short_solves;
    }
};

// Solves A x = rhs for a symmetric A: a banded Cholesky solve for small grids, otherwise conjugate gradients
// warm-started from x.
Status solve_weighted_system(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                             std::span<double> x, std::span<double> residual, std::span<double> direction,
                             std::span<double> product, linalg::banded::SymmetricBandedWorkspace& banded,
                             bool allow_direct);

// The grids small enough for a banded factorisation: the band of at most 3 cols stays short.
inline bool solved_directly(const GridSystem& system) { return system.rows * system.cols <= 512 && system.cols <= 32; }

// A in band storage, bandwidth order_r cols (or `least_bandwidth` if more), for banded.solve_spd or banded.factor.
void fill_system_bands(const GridSystem& system, linalg::banded::SymmetricBandedWorkspace& banded,
                       std::uint64_t least_bandwidth = 0);
// The same for a system that may be unsymmetric, for lu.factor.
void fill_general_bands(const GridSystem& system, linalg::banded::GeneralBandedWorkspace& lu);

// out = A v without forming A.
void apply_system(const GridSystem& system, std::span<const double> v, std::span<double> out);

// out += F v for the first-difference term F of a rows x cols grid.
void add_first_differences(const FirstDifferences& first, std::uint64_t rows, std::uint64_t cols,
                           std::span<const double> v, std::span<double> out);

// Where both conjugate-gradient solvers start: residual = rhs - A x (product holds A x), with
// ||rhs|| never below 1 so that a small right-hand side makes the tolerance absolute.
struct StartingResidual {
    double bnorm, rr;
};
StartingResidual starting_residual(const GridSystem& system, std::span<const double> rhs, std::span<const double> x,
                                   std::span<double> residual, std::span<double> product,
                                   std::span<const double> row_scale = {});

// The square of v, the value of row k, in the norm of `row_scale` (see CgLimits).
inline double square_in(std::span<const double> row_scale, std::size_t k, double v) {
    if (row_scale.empty()) return v * v;
    const double scaled = v * row_scale[k];
    return scaled * scaled;
}

}  // namespace quorvel::two_d::whittaker
