// The difference penalty D'D of one grid axis, shared by every grid smoothing solver.
#pragma once

#include <cstdint>

#include "linalg/difference_penalty.hpp"

namespace quorvel::two_d::whittaker {

// Second differences on an axis of m >= 3 points, the default order, in closed form for the product's inner
// loops. For m = 3 the single difference row (1, -2, 1) gives a middle element of 4: constants and lines are free.
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

// Differences of any order on an axis of m > order points: element (t, t + s) for |s| <= order, 0 past the ends.
// At order 2 its elements equal AxisPenalty's.
struct AxisPenaltyOf {
    std::uint64_t m;
    unsigned order;

    double at(std::uint64_t t, std::int64_t s) const {
        const std::int64_t u = static_cast<std::int64_t>(t) + s;
        if (u < 0 || static_cast<std::uint64_t>(u) >= m) return 0.0;
        const std::uint64_t low = s < 0 ? static_cast<std::uint64_t>(u) : t;
        return linalg::difference_penalty(m, order, low, static_cast<std::size_t>(s < 0 ? -s : s));
    }
    double diag(std::uint64_t t) const { return order == 2 ? AxisPenalty{m}.diag(t) : at(t, 0); }
};

// Above the spectrum of D^-1 D'D (D its diagonal) on an axis of m points: a relaxation smoother's interval.
inline double axis_spectrum_bound(std::uint64_t m, unsigned order) {
    switch (order) {
        case 1: return 2.0;
        case 2: return m == 3 ? 3.0 : 2.8;
        default: return m == 4 ? 4.0 : m == 5 ? 3.6 : 3.5;
    }
}

}  // namespace quorvel::two_d::whittaker
