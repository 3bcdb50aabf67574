#include "negative_residuals.hpp"

#include <cmath>

namespace quorvel::whittaker {

NegativeResiduals negative_residuals(std::span<const double> y, std::span<const double> baseline, Mask mask) {
    // Samples left out add -0.0, which changes no sum, not even one of +0.0.
    auto collected = [&](std::size_t i) { return !is_masked_out(mask, i) && y[i] - baseline[i] < 0.0; };
    std::size_t count = 0;
    double sum = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        sum = sum + pick(collected(i), y[i] - baseline[i], -0.0);
        count += collected(i) ? 1 : 0;
    }
    if (count < 2) return {count, 0.0, 0.0};
    const double mean = sum / static_cast<double>(count);
    double sq = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double dev = (y[i] - baseline[i]) - mean;
        sq = sq + pick(collected(i), dev * dev, -0.0);
    }
    return {count, mean, std::sqrt(sq / static_cast<double>(count - 1))};
}

}  // namespace quorvel::whittaker
