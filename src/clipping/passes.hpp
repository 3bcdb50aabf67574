// The order of SNIP's passes.
#pragma once

#include <cstddef>

namespace quorvel::clipping {

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
