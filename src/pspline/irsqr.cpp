#include "irsqr.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/numeric.hpp"

namespace quorvel::pspline {

Status IrsqrWeights::start(const std::vector<double>& fitted, std::size_t count) {
    if (!(params.quantile > 0.0 && params.quantile < 1.0)) return InvalidParameter{"quantile", "must be in (0, 1)"};
    if (!std::isnan(params.eps) && !(params.eps > 0.0 && std::isfinite(params.eps))) {
        return InvalidParameter{"eps", "must be a finite number above 0"};
    }
    coefficients = &fitted;
    previous.assign(count, 0.0);
    return ok;
}

double IrsqrWeights::reweight(std::span<const double> baseline, std::span<double> weights, std::size_t) {
    // Sums of squares run in units of a power of two near the largest term, which keeps them finite on data near
    // the ends of the double range and leaves every other result's bits as they are. The first change is against
    // zeros: infinite, where a floor under the norm would make it depend on units.
    const std::vector<double>& c = *coefficients;
    double reach = std::numeric_limits<double>::min();
    for (std::size_t j = 0; j < c.size(); ++j) reach = std::max({reach, std::fabs(c[j]), std::fabs(previous[j])});
    double down = std::ldexp(1.0, -std::ilogb(reach)), moved = 0.0, size = 0.0;
    for (std::size_t j = 0; j < c.size(); ++j) {
        const double step = (c[j] - previous[j]) * down, old = previous[j] * down;
        moved += step * step;
        size += old * old;
    }
    const double change = relative_distance(moved, size);
    std::copy(c.begin(), c.end(), previous.begin());

    // eps is s^2 with s = 1e-6 max |baseline|, at least 2^-511 (eps at least the smallest normal double), so that a
    // baseline of zeros (data of zeros) gives no weights of 1 / 0.
    const bool own = std::isnan(params.eps);
    double s = 0.0;
    if (own) {
        for (std::size_t i = 0; i < y.size(); ++i) {
            if (!is_masked_out(mask, i)) s = std::max(s, std::fabs(baseline[i]));
        }
        s = std::max(1e-6 * s, std::ldexp(1.0, -511));
    }
    reach = own ? s : std::sqrt(params.eps);
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) reach = std::max(reach, std::fabs(y[i] - baseline[i]));
    }
    const int exponent = std::ilogb(reach);
    down = std::ldexp(1.0, -exponent);
    const double up = std::ldexp(1.0, exponent);
    const double eps = std::max(own ? (s * down) * (s * down) : params.eps * down * down,
                                std::numeric_limits<double>::min());
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - baseline[i], scaled = r * down;
        const double side = r > 0.0 ? params.quantile : 1.0 - params.quantile;
        weights[i] = is_masked_out(mask, i) ? 0.0 : side / (up * std::sqrt(scaled * scaled + eps));
    }
    return change;
}

}  // namespace quorvel::pspline
