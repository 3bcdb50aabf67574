// The second-difference penalty T(m) of one grid axis, shared by every grid smoothing solver.
#pragma once

#include <cstdint>

namespace quorvel::two_d::whittaker {

// Axis of m >= 3 points. For m = 3 the single difference row (1, -2, 1) gives a middle
// element of 4: constants and lines are free.
struct AxisPenalty {
    std::uint64_t m;

    double diag(std::uint64_t t) const {
        if (t == 0 || t == m - 1) return 1.0;
        if (m == 3) return 4.0;
        return (t == 1 || t == m - 2) ? 5.0 : 6.0;
    }
    // Element (t, t + 1).
    double off(std::uint64_t t) const { return (t == 0 || t == m - 2) ? -2.0 : -4.0; }
};

}  // namespace quorvel::two_d::whittaker
