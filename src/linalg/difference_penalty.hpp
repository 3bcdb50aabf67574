// The entries of D'D, D the difference matrix of order 0 to 3 on n evenly spaced samples.
#pragma once

#include <cstddef>

namespace quorvel::linalg {

inline constexpr unsigned max_difference_order = 3;

// Entry (i, i + k) of D'D for 0 <= k <= order; D has n - order rows (none when n <= order).
double difference_penalty(std::size_t n, unsigned order, std::size_t i, std::size_t k);

}  // namespace quorvel::linalg
