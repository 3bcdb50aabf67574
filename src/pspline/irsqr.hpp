// IRSQR (Han et al., Iterative reweighted quantile regression using augmented Lagrangian optimization for baseline
// correction, ICISCE 2018, 280): a penalised spline drawn to a quantile of the data by reweighted least squares,
// each sample weighing q / |r| above the baseline and (1 - q) / |r| below it, |r| smoothed as sqrt(r^2 + eps).
#pragma once

#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/mask.hpp"
#include "pspline.hpp"

namespace quorvel::pspline {

struct IrsqrParams {
    double quantile;  // in (0, 1)
    double eps;       // NaN: (1e-6 max |baseline|)^2 at each iteration
};

// A method of the spline's loop: its measure is the relative change of the spline's coefficients, the first
// against zeros, as the reference library measures it.
struct IrsqrWeights {
    IrsqrParams params;
    std::span<const double> y;
    Mask mask;
    const std::vector<double>* coefficients = nullptr;  // the spline's, as each solve leaves them
    std::vector<double> previous{};

    // `count` coefficients, in `fitted` after each solve.
    Status start(const std::vector<double>& fitted, std::size_t count);
    Status begin(PsplineWorkspace& workspace) {
        return start(workspace.system.coefficients, workspace.basis.coefficients);
    }
    double reweight(std::span<const double> baseline, std::span<double> weights, std::size_t iteration);
};

}  // namespace quorvel::pspline
