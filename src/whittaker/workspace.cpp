#include "workspace.hpp"

#include <cmath>

#include "core/numeric.hpp"

namespace quorvel {

double relative_change(double diff_sq, double old_sq) {
    return std::sqrt(diff_sq) / std::fmax(std::sqrt(old_sq), epsilon);
}

double WeightChange::value() const { return relative_change(diff_sq_, old_sq_); }

double relative_weight_change(std::span<const double> w_old, std::span<const double> w_new) {
    WeightChange change;
    for (std::size_t i = 0; i < w_old.size(); ++i) change.add(w_old[i], w_new[i]);
    return change.value();
}

}  // namespace quorvel
