// The parameters of a grid Whittaker fit, and the system and solver limits they give.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "grid_system.hpp"

namespace quorvel::two_d::whittaker {

struct Whittaker2DParams {
    std::optional<double> lambda_rows;  // across rows; `lambda` when unset
    std::optional<double> lambda_cols;  // along each row; `lambda` when unset
    double lambda;
    std::uint64_t max_iter;
    double tol;
    std::uint64_t cg_max_iter;
    double cg_tol;
};

struct Asls2DParams : Whittaker2DParams {
    double p;
};

// The system of a rows x cols grid under these parameters.
inline GridSystem grid_system(const Whittaker2DParams& params, std::uint64_t rows, std::uint64_t cols,
                              std::span<const double> weights) {
    return {rows, cols, params.lambda_rows.value_or(params.lambda), params.lambda_cols.value_or(params.lambda),
            weights};
}

inline CgLimits cg_limits(const Whittaker2DParams& params) { return {params.cg_max_iter, params.cg_tol}; }

}  // namespace quorvel::two_d::whittaker
