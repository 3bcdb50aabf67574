// The largest half window SNIP clips a grid with when the caller gives none.
#pragma once

#include <algorithm>
#include <cstdint>

namespace quorvel::clipping {

// Spectra take the opening-based estimate of the data's window; grids, which the reference library does not
// clip, take its cap on that estimate, (n - 1) / 2 per axis, held to 1000 passes so a large grid costs no more
// than its size times 1000.
inline std::uint64_t default_max_half_window(std::uint64_t n) {
    return std::clamp<std::uint64_t>((n > 0 ? n - 1 : 0) / 2, 1, 1000);
}

}  // namespace quorvel::clipping
