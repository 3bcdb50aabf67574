// drPLS' step on grids. Its rows scaled by 1 - eta w leave no symmetric form: dividing each row by its scale
// makes W and the smoothing penalty symmetric, W / S + P, and leaves the first differences S^-1 D1'D1, which
// the smoothing penalty outweighs on all but the smoothest surfaces. BiCGSTAB solves the divided rows,
// preconditioned by a V-cycle of the symmetric W / S + D1'D1 + P; the divided rows rejoin the residual's norm
// multiplied by their scale, as aspls' do. Without multigrid, small grids solve by a banded LU as the symmetric
// schemes' do by Cholesky, and the others by BiCGSTAB alone.
#include <algorithm>
#include <cmath>

#include "whittaker.hpp"

namespace quorvel::two_d::whittaker {

Status solve_step(const DrPlsWeights& rule, const Grid& data, const GridSystem& system, CgLimits limits,
                  const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls) {
    const std::size_t n = data.data.size();
    ws.state.resize(2 * n);
    const std::span<double> scale = std::span(ws.state).first(n), factor = std::span(ws.state).last(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = is_masked_out(controls.mask, i) ? 0.0 : std::fmax(ws.weights[i], weight_floor);
        // At eta = 1 a weight of 1 would leave the row no penalty to divide by; the floor keeps it within
        // 2^-40 lambda of that.
        scale[i] = std::fmax(1.0 - rule.eta * w, 0x1p-40);
        factor[i] = 1.0 / scale[i];
        ws.floored_weights[i] = w / scale[i];
        ws.rhs[i] = ws.floored_weights[i] * data.data[i];
    }
    GridSystem neighbour = system, divided = system;
    neighbour.first = system.with_gains({1.0, 1.0});
    divided.first = system.with_gains({1.0, 1.0, {}, factor});
    if (!controls.multigrid && solved_directly(divided)) {
        fill_general_bands(divided, ws.general);
        if (auto factored = ws.general.factor(); !factored) return factored;
        std::copy(ws.rhs.begin(), ws.rhs.end(), output.data.begin());
        ws.general.substitute(output.data);
        return ok;
    }
    limits.row_scale = scale;
    Multigrid* multigrid = controls.multigrid ? &controls.multigrid->multigrid : nullptr;
    return solve_bicgstab(divided, neighbour, limits, ws.rhs, output.data, ws.unsymmetric, multigrid);
}

}  // namespace quorvel::two_d::whittaker
