// The spread of a signal's used samples.
#pragma once

#include <cmath>
#include <span>

#include "mask.hpp"

namespace quorvel {

// The population standard deviation of the used samples: their mean first, then the mean square about it.
inline double used_deviation(std::span<const double> y, Mask mask) {
    const double used = static_cast<double>(used_count(y.size(), mask));
    double sum = 0.0, sq = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) sum = sum + y[i];
    }
    const double mean = sum / used;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) sq = sq + (y[i] - mean) * (y[i] - mean);
    }
    return std::sqrt(sq / used);
}

}  // namespace quorvel
