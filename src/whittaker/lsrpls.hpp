// LSRPLS (Heng et al., Chinese J. Lasers 45 (2018) 1211001): the locally symmetric arPLS, whose weight
// 1/2 (1 - s / (1 + |s|)), s = 10^t (d - (2 sigma - mean)) / sigma, steepens tenfold every iteration t.
#pragma once

#include <cmath>

#include "reweighter.hpp"

namespace quorvel::whittaker {

struct LsrPlsWeights {
    static constexpr bool reference_loop = true;
};

double update_masked(const LsrPlsWeights& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// 1/2 (1 - s / (1 + |s|)) for s = shifted * growth (growth = e^t / sigma or 10^t / sigma, which may be
// infinite), in the form that loses no small weight to cancellation and never forms 0 * inf.
inline double half_soft_sign_weight(double shifted, double growth) {
    if (shifted == 0.0) return 0.5;
    const double s = shifted * growth;
    return s > 0.0 ? 0.5 / (1.0 + s) : 1.0 - 0.5 / (1.0 - s);
}

}  // namespace quorvel::whittaker
