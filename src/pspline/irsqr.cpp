#include "irsqr.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/numeric.hpp"

namespace quorvel::pspline {

Status IrsqrWeights::begin(PsplineWorkspace& workspace) {
    if (!(params.quantile > 0.0 && params.quantile < 1.0)) return InvalidParameter{"quantile", "must be in (0, 1)"};
    if (!std::isnan(params.eps) && !(params.eps > 0.0 && std::isfinite(params.eps))) {
        return InvalidParameter{"eps", "must be a finite number above 0"};
    }
    fitted = &workspace;
    previous.assign(workspace.basis.coefficients, 0.0);
    return ok;
}

double IrsqrWeights::reweight(std::span<const double> baseline, std::span<double> weights, std::size_t) {
    // The first change is against zeros: infinite, where a floor under the norm would make it depend on units.
    const std::vector<double>& c = fitted->system.coefficients;
    double moved = 0.0, size = 0.0;
    for (std::size_t j = 0; j < c.size(); ++j) {
        moved += (c[j] - previous[j]) * (c[j] - previous[j]);
        size += previous[j] * previous[j];
    }
    const double change = relative_distance(moved, size);
    std::copy(c.begin(), c.end(), previous.begin());

    double eps = params.eps;
    if (std::isnan(eps)) {
        double largest = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            if (!is_masked_out(mask, i)) largest = std::max(largest, std::fabs(baseline[i]));
        }
        // A baseline of zeros (data of zeros) would give weights of 1 / 0.
        const double scaled = 1e-6 * largest;
        eps = std::max(scaled * scaled, std::numeric_limits<double>::min());
    }
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - baseline[i];
        const double side = r > 0.0 ? params.quantile : 1.0 - params.quantile;
        weights[i] = is_masked_out(mask, i) ? 0.0 : side / std::sqrt(r * r + eps);
    }
    return change;
}

}  // namespace quorvel::pspline
