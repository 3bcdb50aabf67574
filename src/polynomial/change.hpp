// How much a fit moved between iterations: ‖now - old‖ / ‖old‖ over the used samples, with ‖old‖ at least 2^-52
// as the field computes it.
#pragma once

#include <cmath>
#include <span>

#include "core/numeric.hpp"

namespace quorvel::polynomial {

// The squared distance of the new curve from the old and the old's squared norm, over the used samples.
struct Change {
    double distance2 = 0.0, norm2 = 0.0;
};

inline double relative(const Change& change) {
    return std::sqrt(change.distance2) / std::fmax(std::sqrt(change.norm2), epsilon);
}

// Over the samples of positive weight in `used`.
inline double relative_change(std::span<const double> old, std::span<const double> now,
                              std::span<const double> used) {
    Change change;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const bool counted = used[i] > 0.0;
        change.distance2 += pick(counted, (now[i] - old[i]) * (now[i] - old[i]), 0.0);
        change.norm2 += pick(counted, old[i] * old[i], 0.0);
    }
    return relative(change);
}

}  // namespace quorvel::polynomial
