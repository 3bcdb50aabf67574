#include "workspace.hpp"

#include <cmath>

#include "numeric.hpp"

namespace quorvel {

double WeightChange::value() const { return std::sqrt(diff_sq_) / std::fmax(std::sqrt(old_sq_), epsilon); }

double relative_weight_change(std::span<const double> w_old, std::span<const double> w_new) {
    WeightChange change;
    for (std::size_t i = 0; i < w_old.size(); ++i) change.add(w_old[i], w_new[i]);
    return change.value();
}

}  // namespace quorvel
