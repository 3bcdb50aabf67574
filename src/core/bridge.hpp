// Stand-ins for masked-out samples that keep a line or surface going through them: for the methods
// that read every sample, such as windows and smoothers.
#pragma once

#include <cstdint>
#include <span>

#include "mask.hpp"

namespace quorvel {

// out = values with every masked-out sample replaced by the straight line between its nearest
// used neighbours, or by the nearest used value beyond the first and last. Needs a used sample.
void bridge_masked(std::span<const double> values, Mask mask, std::span<double> out);

// The same over a grid: along each row that has a used sample, then down the columns through
// the rows that had one.
void bridge_masked_grid(std::span<const double> values, std::uint64_t rows, std::uint64_t cols, Mask mask,
                        std::span<double> out);

}  // namespace quorvel
