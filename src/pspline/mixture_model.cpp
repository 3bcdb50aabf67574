#include "mixture_model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "core/numeric.hpp"
#include "pspline/lanes/lane_system.hpp"
#include "simd/exp.hpp"

namespace quorvel::pspline {
namespace {

// The residuals y - fit at the used samples in units of `up`, a power of two near the largest, which keeps their
// squares finite on data near the ends of the double range and leaves every result's bits as they are: their
// mean, standard deviation (as NumPy's std) and extremes.
struct Spread {
    double up = 1.0, down = 1.0, mean = 0.0, deviation = 0.0, highest = 0.0, lowest = 0.0;
};

Spread spread_of(std::span<const double> y, std::span<const double> fit, Mask mask) {
    constexpr double huge = std::numeric_limits<double>::infinity();
    Spread s{.highest = -huge, .lowest = huge};
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (is_masked_out(mask, i)) continue;
        s.highest = std::max(s.highest, y[i] - fit[i]);
        s.lowest = std::min(s.lowest, y[i] - fit[i]);
    }
    const double reach = std::max(std::fabs(s.highest), std::fabs(s.lowest));
    if (reach > 0.0) {
        s.up = std::ldexp(1.0, std::ilogb(reach));
        s.down = 1.0 / s.up;
    }
    s.highest *= s.down;
    s.lowest *= s.down;
    double count = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (is_masked_out(mask, i)) continue;
        s.mean += (y[i] - fit[i]) * s.down;
        count += 1.0;
    }
    s.mean /= count;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (is_masked_out(mask, i)) continue;
        const double d = (y[i] - fit[i]) * s.down - s.mean;
        s.deviation += d * d;
    }
    s.deviation = std::sqrt(s.deviation / count);
    return s;
}

}  // namespace

Status MixtureEm::check() const {
    if (!(params.p > 0.0 && params.p < 1.0)) return InvalidParameter{"p", "must be in (0, 1)"};
    return ok;
}

void MixtureEm::start(std::span<const double> fit, std::span<double> weights) const {
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) weights[i] = y[i] > fit[i] ? params.p : 1.0 - params.p;
    }
}

Status MixtureWeights::begin(PsplineWorkspace& workspace) {
    if (auto valid = check(); !valid) return valid;
    if (auto solved = solve_weighted(y, spline, mask, {}, workspace, baseline); !solved) return solved;
    start(baseline, workspace.weights);
    return ok;
}

// Densities and residuals in the units of the spread; sigma is kept in the data's.
double MixtureEm::reweight(std::span<const double> fit, std::span<double> weights, std::size_t iteration) {
    const Spread s = spread_of(y, fit, mask);
    if (iteration == 0) {
        sigma = s.deviation * s.up / 5.0;
        shares = params.symmetric ? std::array{0.5, 0.25, 0.25} : std::array{0.5, 0.5, 0.0};
    }
    const double deviation = sigma * s.down;
    const double above = s.highest > 0.0 ? shares[1] / s.highest : 0.0;
    const double below = params.symmetric && s.lowest < 0.0 ? shares[2] / -s.lowest : 0.0;
    const double height = shares[0] / (std::numbers::sqrt2 * std::sqrt(std::numbers::pi) * deviation);
    // The noise's densities from the packs' exp, whose bits the lanes of a batch give each spectrum too; in packs of
    // samples where the CPU has wide registers, each sample as one alone.
    densities.resize(y.size());
    const double per_deviation = 1.0 / deviation;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double z = (y[i] - fit[i]) * s.down * per_deviation;
        densities[i] = -0.5 * z * z;
    }
    const SplineLaneKernels kernels = spline_kernels();
    const std::size_t packed = y.size() / kernels.width * kernels.width;
    kernels.exps(densities.data(), packed);
    for (std::size_t i = packed; i < y.size(); ++i) densities[i] = simd::exp_nonpositive(densities[i]);
    double distance2 = 0.0, norm2 = 0.0, noise = 0.0, spread = 0.0, high = 0.0, low = 0.0, count = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (is_masked_out(mask, i)) continue;
        const double r = (y[i] - fit[i]) * s.down;
        const double old = iteration == 0 ? (r > 0.0 ? params.p : 1.0 - params.p) : weights[i];
        const double peaks = r > 0.0 ? above : (r < 0.0 ? below : 0.0);
        // Only the noise reaches a sample no peak can (a negative residual without symmetric peaks); without
        // spread, only an exact fit.
        double w = 1.0;
        if (peaks > 0.0) {
            const double g = deviation > 0.0 ? height * densities[i] : 0.0;
            const double per_density = 1.0 / (g + peaks);
            w = g * per_density;
            (r > 0.0 ? high : low) += peaks * per_density;
        }
        distance2 += (w - old) * (w - old);
        norm2 += old * old;
        noise += w;
        spread += w * r * r;
        count += 1.0;
        weights[i] = w;
    }
    shares = {noise / count, high / count, low / count};
    sigma = std::sqrt(spread / noise) * s.up;
    return relative_distance(distance2, norm2);
}

}  // namespace quorvel::pspline
