// Stand-in values for masked-out samples, so that no method ever reads what they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/bridge.hpp"
#include "core/mask.hpp"

namespace quorvel::dispatch {

// The first used sample that is NaN or infinite.
std::optional<std::uint64_t> first_non_finite_used(std::span<const double> values, Mask mask);

// out = values with 0.0 at the masked-out samples: for fits that give those samples no weight.
void zero_masked(std::span<const double> values, Mask mask, std::span<double> out);

}  // namespace quorvel::dispatch
