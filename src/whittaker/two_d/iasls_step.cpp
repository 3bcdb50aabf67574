// IAsLS' step on grids: its squared weights, and the first differences of the residual on both sides.
#include <algorithm>
#include <cmath>

#include "whittaker.hpp"

namespace quorvel::two_d::whittaker {

Status solve_step(const IaslsGridRun& run, const Grid& data, const GridSystem& system, CgLimits limits,
                  const GridOut& output, Whittaker2DWorkspace& ws, const FitControls& controls) {
    for (std::size_t i = 0; i < data.data.size(); ++i) {
        const double w = ws.weights[i];
        ws.floored_weights[i] = is_masked_out(controls.mask, i) ? 0.0 : std::fmax(w * w, weight_floor);
        ws.rhs[i] = ws.floored_weights[i] * data.data[i];
    }
    GridSystem with_first = system;
    with_first.first = system.with_gains({run.lam_1_rows, run.lam_1_cols, run.keep});
    add_first_differences(with_first.first, data.rows, data.cols, data.data, ws.rhs);
    return solve_symmetric(with_first, limits, output, ws, controls);
}

}  // namespace quorvel::two_d::whittaker
