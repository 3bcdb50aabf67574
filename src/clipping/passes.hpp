// What the clipping methods check of their parameters, and the order of their passes.
#pragma once

#include <array>
#include <cstdint>

#include "core/error.hpp"
#include "snip.hpp"

namespace quorvel::clipping {

// Half windows of at least 1 and at most each extent (spectra give the length twice); on grids only order 2.
inline Status check_snip(const SnipParams& params, std::array<std::uint64_t, 2> extents, bool spectrum) {
    for (std::size_t axis = 0; axis < 2; ++axis) {
        const std::uint64_t half = params.max_half_window[axis];
        if (half == 0) return InvalidParameter{"max_half_window", "must be at least 1"};
        if (half > extents[axis]) return InvalidParameter{"max_half_window", "must be at most the data's length"};
    }
    const std::uint64_t order = params.filter_order;
    if (spectrum ? (order < 2 || order > 8 || order % 2 != 0) : order != 2) {
        return InvalidParameter{"filter_order", spectrum ? "must be 2, 4, 6 or 8" : "must be 2 on grids"};
    }
    return ok;
}

// The half windows of the passes: 1 up to `most`, or `most` down to 1.
struct Passes {
    std::size_t most;
    bool decreasing;

    struct Iterator {
        std::size_t step, most;
        bool decreasing;
        std::size_t operator*() const { return decreasing ? most - step : step + 1; }
        Iterator& operator++() {
            ++step;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return step != other.step; }
    };
    Iterator begin() const { return {0, most, decreasing}; }
    Iterator end() const { return {most, most, decreasing}; }
};

}  // namespace quorvel::clipping
