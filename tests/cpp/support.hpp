// Helpers shared by the test files.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "error.hpp"

namespace quorvel::support {

using V = std::vector<double>;
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// "ok" on success, the display text otherwise, so expectations read as sentences.
template <class T>
std::string outcome(const Result<T>& result) {
    return result ? std::string("ok") : display(result.error());
}

inline V uniform(std::mt19937_64& rng, std::size_t n, double lo, double hi) {
    std::uniform_real_distribution<double> dist(lo, hi);
    V v(n);
    for (auto& x : v) x = dist(rng);
    return v;
}

inline void expect_near_all(const V& got, const V& expected, double tol) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], tol) << "i=" << i;
}

}  // namespace quorvel::support
