// The normal equations of a tensor-product P-spline on a grid (Eilers & Marx, Statist. Sci. 11 (1996) 89),
// formed by the array arithmetic of Eilers, Currie & Durbán (Comput. Stat. Data Anal. 50 (2006) 61): the
// basis B = B0 (x) B1 is never formed; each row of the grid adds (u u') (x) G, u its axis-0 basis row and G the
// weighted Gram matrix of the axis-1 basis rows along it, so forming costs O(points (degree + 1)^2).
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/grid.hpp"
#include "core/mask.hpp"
#include "linalg/band_cholesky_rows.hpp"
#include "linalg/banded.hpp"
#include "pspline/basis.hpp"

namespace quorvel::pspline::two_d {

// The coefficients of the axis with fewer of them run fastest, so the system is a band of half-width about those
// coefficients times the other axis' degree + 1.
struct GridBases {
    SplineBasis axis0, axis1;
};

struct GridPenalty {
    std::array<double, 2> lambda;       // along axis 0, along axis 1
    std::array<unsigned, 2> diff_order;
};

// Off by default: IAsLS' squared weights and its lam_1 |D1 (y - z)|^2 along either axis, joining used neighbours.
struct GridTerms {
    bool squared_weights = false;
    std::array<double, 2> residual_slope{0.0, 0.0};
};

struct GridSystemWorkspace {
    linalg::banded::SymmetricBandedWorkspace banded;  // assembled band by band
    linalg::banded::RowBandedCholesky cholesky;       // factored row by row
    std::vector<double> rhs, coefficients;
    std::vector<double> gram, gram_rhs, row;  // one grid row's Gram band and right side; one dense pair row
    // The residual's slope terms read neither the weights nor the iteration: formed at a fit's first solve.
    std::vector<double> slope_bands, slope_rhs;
    std::size_t slope_band = 0;
    bool slopes_formed = false;
    std::vector<double> partial;  // a grid row's C B0' row, for the baseline
};

// Solves (B'WB + terms + lambda_0 D0'D0 (x) I + lambda_1 I (x) D1'D1) c = B'W y + terms and writes B c.
Status solve_grid(const quorvel::two_d::Grid& data, std::span<const double> weights, Mask mask,
                  const GridBases& bases, const GridPenalty& penalty, const GridTerms& terms,
                  GridSystemWorkspace& workspace, std::span<double> baseline);

}  // namespace quorvel::pspline::two_d
