// Stand-in values for masked-out samples, so that no method ever reads what they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/mask.hpp"

namespace quorvel::dispatch {

// The first used sample that is NaN or infinite.
std::optional<std::uint64_t> first_non_finite_used(std::span<const double> values, Mask mask);

// out = values with 0.0 at the masked-out samples: for fits that give those samples no weight.
void zero_masked(std::span<const double> values, Mask mask, std::span<double> out);

// out = values with every masked-out sample replaced by the straight line between its nearest
// used neighbours, or by the nearest used value beyond the first and last. Needs a used sample.
void bridge_masked(std::span<const double> values, Mask mask, std::span<double> out);

// The same over a grid: along each row that has a used sample, then down the columns through
// the rows that had one.
void bridge_masked_grid(std::span<const double> values, std::uint64_t rows, std::uint64_t cols, Mask mask,
                        std::span<double> out);

}  // namespace quorvel::dispatch
