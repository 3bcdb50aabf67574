#include "workspace.hpp"

#include <cmath>

#include "numeric.hpp"

namespace quorvel {

double relative_weight_change(std::span<const double> w_old, std::span<const double> w_new) {
    double diff_sq = -0.0;
    double old_sq = -0.0;
    for (std::size_t i = 0; i < w_old.size(); ++i) {
        const double d = w_new[i] - w_old[i];
        diff_sq = diff_sq + d * d;
        old_sq = old_sq + w_old[i] * w_old[i];
    }
    return std::sqrt(diff_sq) / std::fmax(std::sqrt(old_sq), epsilon);
}

}  // namespace quorvel
