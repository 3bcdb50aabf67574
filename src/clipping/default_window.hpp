// The largest half window SNIP clips with when the caller gives none.
#pragma once

#include <algorithm>
#include <cstdint>

namespace quorvel::clipping {

// Stands in for the shared estimate of the window from the data, which replaces it: the reference library's
// cap on its own estimate, (n - 1) / 2, held to 1000 passes so that long spectra cost no more than n · 1000.
inline std::uint64_t default_max_half_window(std::uint64_t n) {
    return std::clamp<std::uint64_t>((n > 0 ? n - 1 : 0) / 2, 1, 1000);
}

}  // namespace quorvel::clipping
