// The penalised systems of the Whittaker rules: W + lambda D'D of any difference order, and the
// forms some rules build from several penalties or from a penalty scaled row by row.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>

#include "core/error.hpp"
#include "linalg/banded.hpp"
#include "linalg/banded_lu.hpp"
#include "workspace.hpp"

namespace quorvel::whittaker {

struct Penalty {
    unsigned order;
    double lambda;
};

// (W + lambda D'D) z = W y with D of `order`; the second order keeps the pentadiagonal solver's bits.
Status solve_penalised(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                       WhittakerWorkspace& workspace, double lambda, unsigned order);

// diag(diagonal) + the sum of the penalties, in the lower bands of a symmetric store.
void fill_symmetric(linalg::banded::SymmetricBandedWorkspace& system, std::span<const double> diagonal,
                    std::initializer_list<Penalty> penalties);

// diag(diagonal) + the sum of the penalties + diag(row_scale) lambda D'D for `scaled`: no longer symmetric.
void fill_row_scaled(linalg::banded::GeneralBandedWorkspace& system, std::span<const double> diagonal,
                     std::initializer_list<Penalty> penalties, Penalty scaled, std::span<const double> row_scale);

}  // namespace quorvel::whittaker
