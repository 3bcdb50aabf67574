// Sample masks: true marks a sample the fit uses; an empty mask uses every sample.
#pragma once

#include <cstddef>
#include <span>

namespace quorvel {

using Mask = std::span<const bool>;

inline bool is_masked_out(Mask mask, std::size_t i) { return !mask.empty() && !mask[i]; }

inline std::size_t used_count(std::size_t n, Mask mask) {
    if (mask.empty()) return n;
    std::size_t used = 0;
    for (const bool keep : mask) used += keep ? 1 : 0;
    return used;
}

}  // namespace quorvel
