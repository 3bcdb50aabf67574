#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "linalg/pentadiagonal.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::linalg::pentadiagonal;
using quorvel::testing::outcome;

namespace {

using Matrix = std::vector<std::vector<double>>;

// W + lambda * D'D built from the explicit (n-2) x n second-difference matrix.
Matrix assemble(const std::vector<double>& w, double lambda) {
    const std::size_t n = w.size();
    Matrix d(n - 2, std::vector<double>(n, 0.0));
    for (std::size_t k = 0; k + 2 < n; ++k) d[k][k] = 1, d[k][k + 1] = -2, d[k][k + 2] = 1;
    Matrix a(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i) {
        a[i][i] = w[i];
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = 0; k + 2 < n; ++k) a[i][j] += lambda * d[k][i] * d[k][j];
    }
    return a;
}

std::vector<double> gauss(Matrix a, std::vector<double> b) {
    const std::size_t n = b.size();
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t p = k;
        for (std::size_t r = k + 1; r < n; ++r)
            if (std::fabs(a[r][k]) > std::fabs(a[p][k])) p = r;
        std::swap(a[k], a[p]);
        std::swap(b[k], b[p]);
        for (std::size_t r = k + 1; r < n; ++r) {
            const double f = a[r][k] / a[k][k];
            for (std::size_t c = k; c < n; ++c) a[r][c] -= f * a[k][c];
            b[r] -= f * b[k];
        }
    }
    std::vector<double> x(n);
    for (std::size_t i = n; i-- > 0;) {
        double s = b[i];
        for (std::size_t c = i + 1; c < n; ++c) s -= a[i][c] * x[c];
        x[i] = s / a[i][i];
    }
    return x;
}

}  // namespace

TEST(Pentadiagonal, solve_matches_dense_reference) {
    std::mt19937_64 rng(20240611);
    for (std::size_t n : {3u, 4u, 5u, 6u, 9u, 25u}) {
        for (double lambda : {1e-3, 1.0, 1e4}) {
            const auto y = testing::uniform(rng, n, -5.0, 5.0);
            auto w = testing::uniform(rng, n, 0.0, 2.0);
            w[n / 2] = 0.0;  // a zero weight must not break the factorisation
            const Matrix a = assemble(w, lambda);
            std::vector<double> wy(n);
            for (std::size_t i = 0; i < n; ++i) wy[i] = w[i] * y[i];
            const auto expected = gauss(a, wy);

            std::vector<double> z(n, 0.0);
            PentadiagonalWorkspace ws;
            ASSERT_TRUE(solve_second_order(y, w, z, ws, lambda)) << "n=" << n;
            double scale = 0.0;
            for (double v : expected) scale = std::max(scale, std::fabs(v));
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_NEAR(z[i], expected[i], 1e-9 * (1.0 + scale)) << "n=" << n << " lambda=" << lambda;
                double az = 0.0;  // residual of A z = W y, row i
                for (std::size_t j = 0; j < n; ++j) az += a[i][j] * z[j];
                EXPECT_NEAR(az, wy[i], 1e-9 * (1.0 + lambda) * (1.0 + scale));
            }
        }
    }
}

TEST(Pentadiagonal, straight_lines_escape_the_penalty_at_every_length) {
    for (std::size_t n : {3u, 4u, 7u, 40u}) {
        std::vector<double> y(n), w(n, 0.3), z(n);
        for (std::size_t i = 0; i < n; ++i) y[i] = 2.5 - 0.75 * static_cast<double>(i);
        PentadiagonalWorkspace ws(n);
        ASSERT_TRUE(solve_second_order(y, w, z, ws, 1e5));
        for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(z[i], y[i], 1e-8) << "n=" << n << " i=" << i;
    }
}

TEST(Pentadiagonal, reused_workspace_matches_fresh_one) {
    std::mt19937_64 rng(7);
    PentadiagonalWorkspace shared;
    for (std::size_t n : {30u, 5u, 12u, 3u, 30u}) {
        const auto y = testing::uniform(rng, n, 0.0, 1.0);
        const auto w = testing::uniform(rng, n, 0.1, 1.0);
        std::vector<double> reused(n), fresh(n);
        PentadiagonalWorkspace own(n);
        ASSERT_TRUE(solve_second_order(y, w, reused, shared, 50.0));
        ASSERT_TRUE(solve_second_order(y, w, fresh, own, 50.0));
        EXPECT_EQ(reused, fresh) << "n=" << n;
    }
}

TEST(Pentadiagonal, signals_shorter_than_three_keep_weighted_samples) {
    PentadiagonalWorkspace ws;
    std::vector<double> one{4.0}, z1{9.0};
    ASSERT_TRUE(solve_second_order(one, std::vector<double>{0.5}, z1, ws, -1.0));
    EXPECT_EQ(z1, std::vector<double>{4.0});
    ASSERT_TRUE(solve_second_order(one, std::vector<double>{0.0}, z1, ws, 1.0));
    EXPECT_EQ(z1, std::vector<double>{0.0});
    std::vector<double> two{3.0, 8.0}, z2(2, 9.0);
    ASSERT_TRUE(solve_second_order(two, std::vector<double>{1.0, 0.0}, z2, ws, 1.0));
    EXPECT_EQ(z2, (std::vector<double>{3.0, 0.0}));
}

TEST(Pentadiagonal, validation_order_and_lambda_domain) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> y{1, 2, 3, 4}, w{1, 1, 1, 1};
    std::vector<double> z(4);
    PentadiagonalWorkspace ws;
    const std::vector<double> short_w{1, 1, 1};
    EXPECT_EQ(outcome(solve_second_order(y, short_w, z, ws, nan)),
              "length mismatch for weights: expected 4, got 3");
    std::vector<double> long_z(5);
    EXPECT_EQ(outcome(solve_second_order(y, w, long_z, ws, nan)),
              "length mismatch for baseline: expected 4, got 5");
    EXPECT_EQ(outcome(solve_second_order({}, {}, {}, ws, 1.0)), "input signal must not be empty");
    for (double lambda : {0.0, -0.0, -1.0, nan, inf, -inf}) {
        EXPECT_EQ(outcome(solve_second_order(y, w, z, ws, lambda)),
                  "invalid parameter lambda: must be finite and positive")
            << lambda;
    }
    EXPECT_TRUE(solve_second_order(y, w, z, ws, 5e-324));
}

TEST(Pentadiagonal, singular_systems_fail_and_leave_output_untouched) {
    const std::vector<double> y{1, 2, 3, 4, 5};
    const std::vector<double> bad_weights[] = {
        {0, 0, 0, 0, 0},
        {1, 1, std::numeric_limits<double>::quiet_NaN(), 1, 1},
        {1, 0, 0, 0, 0},  // one weighted sample cannot pin a line
    };
    for (const auto& w : bad_weights) {
        std::vector<double> z(5, -7.0);
        PentadiagonalWorkspace ws;
        EXPECT_EQ(outcome(solve_second_order(y, w, z, ws, 1.0)),
                  "linear solve failed: matrix was not positive definite");
        EXPECT_EQ(z, std::vector<double>(5, -7.0));
    }
}
