// Penalised splines on grids: the tensor product of one B-spline basis per axis, each axis' coefficients under
// its own difference penalty, reweighted by a rule the caller supplies as the spline's fits of spectra are.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"
#include "core/mask.hpp"
#include "grid_system.hpp"
#include "pspline/pspline.hpp"

namespace quorvel::pspline::two_d {

using quorvel::two_d::Grid;
using quorvel::two_d::GridOut;

// Each pair: along axis 0 (x, the rows' positions), along axis 1 (z).
struct GridPsplineParams {
    std::array<double, 2> lambda;
    std::uint64_t max_iter;
    double tol;
    std::array<std::uint64_t, 2> num_knots{25, 25};
    std::array<std::uint64_t, 2> spline_degree{3, 3};
    std::array<unsigned, 2> diff_order{2, 2};
};

struct GridPsplineWorkspace {
    GridBases bases;
    std::array<std::vector<double>, 2> positions;  // of the rows (x), of the columns (z), in [-1, 1]
    std::vector<double> weights;
    GridSystemWorkspace system;
};

// The checks in the library's order, then one basis per axis on x and z (evenly spaced over [-1, 1] when empty)
// and weight 1 at every used point.
Status prepare_grid(const Grid& data, std::span<const double> x, std::span<const double> z,
                    const GridPsplineParams& params, Mask mask, const GridOut& output, GridPsplineWorkspace& ws);

// The surface B c of the penalised fit with the workspace's weights and the method's terms.
Status solve_weighted(const Grid& data, const GridPsplineParams& params, Mask mask, const GridTerms& terms,
                      GridPsplineWorkspace& ws, std::span<double> baseline);

template <class Method>
GridTerms grid_terms_of(Method& method) {
    if constexpr (requires { method.grid_terms(); }) {
        return method.grid_terms();
    } else {
        return {};
    }
}

// The loop of spectra's splines (pspline.hpp): at most max_iter + 1 solves, converged once the measure is
// strictly below tol, a NaN measure ending the fit with the surface just solved.
template <class Method>
Result<FitReport> fit_grid_into(const Grid& data, std::span<const double> x, std::span<const double> z,
                                const GridPsplineParams& params, Mask mask, Method& method, const GridOut& output,
                                GridPsplineWorkspace& ws, std::vector<double>* history = nullptr) {
    if (auto ready = prepare_grid(data, x, z, params, mask, output, ws); !ready) return ready.error();
    if (auto begun = method.begin(ws); !begun) return begun.error();
    if (history) history->clear();
    const std::uint64_t solves = params.max_iter + 1;
    double measure = 0.0;
    for (std::uint64_t k = 1; k <= solves; ++k) {
        if (auto solved = solve_weighted(data, params, mask, grid_terms_of(method), ws, output.data); !solved) {
            return solved.error();
        }
        const double next =
            method.reweight(std::span<const double>(output.data), std::span<double>(ws.weights), k - 1);
        if (std::isnan(next)) return FitReport{k - 1, measure, false};
        measure = next;
        if (history) history->push_back(measure);
        if (measure < params.tol) return FitReport{k, measure, true};
    }
    return FitReport{solves, measure, false};
}

}  // namespace quorvel::pspline::two_d
