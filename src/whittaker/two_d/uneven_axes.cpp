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

// Rayleigh quotients of diag^-1/2 D'D diag^-1/2 from the roughest vector, whose top eigenvector it nears, with a
// margin for the steps left; never above Gershgorin's bound.
double spectrum_bound(const AxisSpacing& axis) {
    const std::uint64_t m = axis.m;
    const auto order = static_cast<std::int64_t>(axis.order);
    std::vector<double> v(m), product(m);
    double gershgorin = 0.0;
    for (std::uint64_t t = 0; t < m; ++t) {
        v[t] = t % 2 == 0 ? 1.0 : -1.0;
        double row = 0.0;
        for (std::int64_t s = -order; s <= order; ++s) row = row + std::fabs(axis.at(t, s));
        gershgorin = std::max(gershgorin, row / axis.at(t, 0));
    }
    const auto scaled = [&](std::uint64_t t, std::int64_t s) {
        const std::uint64_t u = static_cast<std::uint64_t>(static_cast<std::int64_t>(t) + s);
        return axis.at(t, s) / std::sqrt(axis.at(t, 0) * axis.at(u, 0));
    };
    double quotient = 0.0;
    for (int iteration = 0; iteration < 60; ++iteration) {
        double vv = 0.0, vp = 0.0;
        for (std::uint64_t t = 0; t < m; ++t) {
            double sum = 0.0;
            for (std::int64_t s = -order; s <= order; ++s) {
                const std::int64_t u = static_cast<std::int64_t>(t) + s;
                if (u >= 0 && static_cast<std::uint64_t>(u) < m) sum = sum + scaled(t, s) * v[u];
            }
            product[t] = sum;
            vv = vv + v[t] * v[t];
            vp = vp + v[t] * sum;
        }
        quotient = vp / vv;
        double norm = 0.0;
        for (double p : product) norm = norm + p * p;
        norm = std::sqrt(norm);
        for (std::uint64_t t = 0; t < m; ++t) v[t] = product[t] / norm;
    }
    return std::min(gershgorin, 1.1 * quotient);
}

void assign_even(AxisSpacing& axis) {
    const AxisPenaltyOf even{axis.m, axis.order};
    const auto order = static_cast<std::int64_t>(axis.order);
    for (std::uint64_t t = 0; t < axis.m; ++t) {
        for (std::int64_t s = -order; s <= order; ++s) {
            const double entry = s == 0 ? even.diag(t) : even.at(t, s);
            axis.entries[t * axis.width() + static_cast<std::uint64_t>(s + order)] = entry;
        }
    }
    axis.bound = axis_spectrum_bound(axis.m, axis.order);
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
    axis.bound = spectrum_bound(axis);
    return ok;
}

void clear(AxisSpacing& axis, std::uint64_t m, unsigned order) {
    axis.m = m, axis.order = order;
    axis.entries.assign(m * axis.width(), 0.0);
    axis.gains.assign(m - 1, 1.0);
    axis.t.clear();
}

Status assign_axis(AxisSpacing& axis, std::span<const double> x, bool uneven, const char* name) {
    clear(axis, axis.m, axis.order);
    if (!uneven) {
        assign_even(axis);
        return ok;
    }
    if (auto positions = quorvel::whittaker::unit_step_positions(x, axis.t, name); !positions) return positions;
    return assign_uneven(axis, axis.t, name);
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
    if (auto axis = assign_axis(grid.rows, x, uneven_x.value(), "x"); !axis) return axis;
    if (auto axis = assign_axis(grid.cols, z, uneven_z.value(), "z"); !axis) return axis;
    if (uneven_x.value()) grid.x = x;
    if (uneven_z.value()) grid.z = z;
    grid.active = true;
    return ok;
}

void assign_coarser(AxisSpacing& coarse, const AxisSpacing& fine, const AxisTransfer& transfer) {
    std::vector<double> t = std::move(coarse.t);
    const std::uint64_t m = transfer.coarse;
    clear(coarse, m, fine.order);
    if (fine.t.empty()) return assign_even(coarse);
    t.resize(m);
    if (transfer.identity()) {
        std::copy(fine.t.begin(), fine.t.end(), t.begin());
    } else {
        for (std::uint64_t k = 0; k < m; ++k) t[k] = coarse_position(fine.t, k);
        const double first = t[0], per_step = static_cast<double>(m - 1) / (t[m - 1] - first);
        for (double& u : t) u = (u - first) * per_step;
    }
    coarse.t = std::move(t);
    // Halving only merges steps, which the finest axis' checks have already passed.
    if (!assign_uneven(coarse, coarse.t, "x")) assign_even(coarse);
}

}  // namespace quorvel::two_d::whittaker
