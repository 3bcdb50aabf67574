// Flat moving minimum and maximum with half-sample symmetric edges, and the opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::morphology {

// Folds any position back into [0, n), bouncing as often as needed; n >= 1.
std::size_t reflect_index(std::int64_t j, std::size_t n);

std::vector<double> moving_min_reflect(std::span<const double> x, std::size_t h);
void moving_max_reflect(std::span<const double> x, std::size_t h, std::span<double> out);
std::vector<double> opening_reflect(std::span<const double> x, std::size_t h);

}  // namespace quorvel::morphology
