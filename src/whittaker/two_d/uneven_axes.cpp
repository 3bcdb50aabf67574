#include "uneven_axes.hpp"

#include <algorithm>
#include <cmath>

#include "axis_penalty.hpp"
#include "core/abscissa.hpp"
#include "linalg/divided_difference_penalty.hpp"
#include "whittaker/uneven.hpp"

namespace quorvel::two_d::whittaker {
namespace {

Result<bool> uneven_axis(std::span<const double> x, std::uint64_t m, const char* name) {
    if (x.empty()) return false;
    if (auto mapped = mapped_abscissa(x, m, name); !mapped) return mapped.error();
    return !quorvel::whittaker::evenly_spaced(x);
}

void assign_even(AxisSpacing& axis) {
    const AxisPenaltyOf even{axis.m, axis.order};
    const auto order = static_cast<std::int64_t>(axis.order);
    for (std::uint64_t t = 0; t < axis.m; ++t) {
        for (std::int64_t s = -order; s <= order; ++s) {
            axis.entries[t * axis.width() + static_cast<std::uint64_t>(s + order)] = s == 0 ? even.diag(t) : even.at(t, s);
        }
    }
}

// Eilers' divided differences (linalg/divided_difference_penalty.hpp) of the positions t.
Status assign_uneven(AxisSpacing& axis, std::span<const double> t, const char* name) {
    constexpr const char* overflows = "must not have steps so unequal that the penalty overflows";
    linalg::PenaltyBands bands;
    if (!bands.assign(t, axis.order, 1.0)) return InvalidParameter{name, overflows};
    const std::uint64_t width = axis.width(), order = axis.order;
    for (std::uint64_t u = 0; u < axis.m; ++u) {
        for (std::uint64_t k = 0; k <= std::min(order, u); ++k) {
            const double entry = bands.at(u, k);
            axis.entries[u * width + order - k] = entry;
            axis.entries[(u - k) * width + order + k] = entry;
        }
    }
    for (std::uint64_t r = 0; r + 1 < axis.m; ++r) {
        const double per_step = 1.0 / (t[r + 1] - t[r]);
        axis.gains[r] = per_step * per_step;
    }
    if (!std::all_of(axis.gains.begin(), axis.gains.end(), [](double g) { return std::isfinite(g); })) {
        return InvalidParameter{name, overflows};
    }
    return ok;
}

Status assign_axis(AxisSpacing& axis, std::span<const double> x, bool uneven, std::vector<double>& t,
                   const char* name) {
    axis.entries.assign(axis.m * axis.width(), 0.0);
    axis.gains.assign(axis.m - 1, 1.0);
    if (!uneven) {
        assign_even(axis);
        return ok;
    }
    if (auto positions = quorvel::whittaker::unit_step_positions(x, t, name); !positions) return positions;
    return assign_uneven(axis, t, name);
}

}  // namespace

Status prepare_uneven_grid(UnevenGrid& grid, std::span<const double> x, std::span<const double> z, std::uint64_t rows,
                           std::uint64_t cols, unsigned order_r, unsigned order_c) {
    grid.active = false;
    grid.x = grid.z = {};
    const auto uneven_x = uneven_axis(x, rows, "x");
    if (!uneven_x) return uneven_x.error();
    const auto uneven_z = uneven_axis(z, cols, "z");
    if (!uneven_z) return uneven_z.error();
    if (!uneven_x.value() && !uneven_z.value()) return ok;
    grid.rows.m = rows, grid.rows.order = order_r;
    grid.cols.m = cols, grid.cols.order = order_c;
    if (auto axis = assign_axis(grid.rows, x, uneven_x.value(), grid.t, "x"); !axis) return axis;
    if (auto axis = assign_axis(grid.cols, z, uneven_z.value(), grid.t, "z"); !axis) return axis;
    if (uneven_x.value()) grid.x = x;
    if (uneven_z.value()) grid.z = z;
    grid.active = true;
    return ok;
}

}  // namespace quorvel::two_d::whittaker
