// The parameters of a grid Whittaker fit, and the system and solver limits they give.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/error.hpp"
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
    unsigned diff_order_rows = 2;  // the order of the differences across rows, 1 to 3
    unsigned diff_order_cols = 2;  // along each row
    std::span<const double> x{};  // the positions of the rows, or empty for evenly spaced ones
    std::span<const double> z{};  // of the columns
};

struct Asls2DParams : Whittaker2DParams {
    double p;
};

// The system of a rows x cols grid under these parameters, on the axes' own penalties where `uneven` is given.
inline GridSystem grid_system(const Whittaker2DParams& params, std::uint64_t rows, std::uint64_t cols,
                              std::span<const double> weights, const UnevenGrid* uneven = nullptr) {
    return {rows,     cols, params.lambda_rows.value_or(params.lambda), params.lambda_cols.value_or(params.lambda),
            weights,  {},   params.diff_order_rows,                     params.diff_order_cols,
            uneven};
}

// Each axis's order is 1 to 3 and below its length, which leaves its penalty a difference to take.
inline Status validate_orders(const Whittaker2DParams& params, std::uint64_t rows, std::uint64_t cols) {
    for (unsigned order : {params.diff_order_rows, params.diff_order_cols}) {
        if (order < 1 || order > 3) return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
    }
    if (rows <= params.diff_order_rows || cols <= params.diff_order_cols) {
        return InvalidParameter{"diff_order", "must be below the number of points along its axis"};
    }
    return ok;
}

inline CgLimits cg_limits(const Whittaker2DParams& params) { return {params.cg_max_iter, params.cg_tol}; }

}  // namespace quorvel::two_d::whittaker
