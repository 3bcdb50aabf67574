#include "masking.hpp"

#include "core/numeric.hpp"

namespace quorvel::dispatch {

std::optional<std::uint64_t> first_non_finite_used(std::span<const double> values, Mask mask) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!is_masked_out(mask, i) && is_non_finite(values[i])) return i;
    }
    return std::nullopt;
}

void zero_masked(std::span<const double> values, Mask mask, std::span<double> out) {
    for (std::size_t i = 0; i < values.size(); ++i) out[i] = is_masked_out(mask, i) ? 0.0 : values[i];
}

}  // namespace quorvel::dispatch
