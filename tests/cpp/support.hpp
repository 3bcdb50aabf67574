// Helpers shared by the test files.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/error.hpp"

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

inline bool same_bits(const V& a, const V& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline void expect_near_all(const V& got, const V& expected, double tol) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], tol) << "i=" << i;
}

// D^T D for the (m - order) x m difference matrix D: T(3) of the second order has 4 in the middle, so lines cost
// nothing.
inline V penalty(std::size_t m, unsigned order = 2) {
    static const double binomial[4][4] = {{1}, {-1, 1}, {1, -2, 1}, {-1, 3, -3, 1}};
    const double* d = binomial[order];
    V t(m * m, 0.0);
    for (std::size_t r = 0; r + order < m; ++r) {  // row r of D holds d at columns r .. r + order
        for (std::size_t a = 0; a <= order; ++a) {
            for (std::size_t b = 0; b <= order; ++b) t[(r + a) * m + r + b] += d[a] * d[b];
        }
    }
    return t;
}

// A v with A = W + lr (T(rows) (x) I) + lc (I (x) T(cols)), assembled densely, each axis with its own order.
inline V dense_product(std::size_t rows, std::size_t cols, double lr, double lc, const V& w, const V& v,
                       unsigned order_r = 2, unsigned order_c = 2) {
    const V tr = penalty(rows, order_r), tc = penalty(cols, order_c);
    V out(v.size(), 0.0);
    for (std::size_t e = 0; e < v.size() * v.size(); ++e) {
        const std::size_t k = e / v.size(), l = e % v.size(), i = k / cols, j = k % cols, p = l / cols, q = l % cols;
        const double a = (j == q ? lr * tr[i * rows + p] : 0.0) + (i == p ? lc * tc[j * cols + q] : 0.0);
        out[k] += ((k == l ? w[k] : 0.0) + a) * v[l];
    }
    return out;
}

}  // namespace quorvel::support
