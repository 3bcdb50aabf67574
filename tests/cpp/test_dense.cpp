#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "linalg/dense.hpp"
#include "numeric.hpp"
#include "support.hpp"

using namespace quorvel;
using quorvel::linalg::dense::solve_dense_in_place;
using quorvel::testing::outcome;

namespace {

struct System {
    std::vector<double> matrix, rhs, solution, pivot;
    explicit System(std::vector<double> a, std::vector<double> b)
        : matrix(std::move(a)), rhs(std::move(b)), solution(rhs.size() + 1, 42.0), pivot(rhs.size()) {}
    Status solve() { return solve_dense_in_place(matrix, rhs, solution, pivot); }
};

}  // namespace

TEST(Dense, small_systems_with_known_solutions) {
    struct Case { std::vector<double> a, b, x; };
    const Case cases[] = {
        {{0, 1, 1, 0}, {2, 3}, {3, 2}},                      // needs the row swap
        {{1, 1, -1, 1}, {3, 1}, {1, 2}},                     // tie in magnitude
        {{3e-16}, {6e-16}, {2}},                             // just above the zero threshold
        {{2, 1, 0, 1, 3, 1, 0, 1, 4}, {3, 5, 5}, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        System s(c.a, c.b);
        ASSERT_TRUE(s.solve());
        for (std::size_t i = 0; i < c.x.size(); ++i) EXPECT_DOUBLE_EQ(s.solution[i], c.x[i]);
        EXPECT_EQ(s.solution.back(), 42.0) << "storage past n must stay untouched";
    }
}

TEST(Dense, equal_magnitudes_keep_the_upper_row_as_pivot) {
    System s({1, 1, -1, 1}, {3, 1});
    ASSERT_TRUE(s.solve());
    // The factor stays in row order: row 0 is still the original first row.
    EXPECT_EQ(s.matrix[0], 1.0);
    EXPECT_EQ(s.matrix[1], 1.0);
    EXPECT_EQ(s.rhs[0], 3.0);
}

TEST(Dense, random_systems_reproduce_their_solution) {
    std::mt19937_64 rng(99);
    for (std::size_t n : {1u, 2u, 5u, 9u}) {
        auto a = testing::uniform(rng, n * n, -1.0, 1.0);
        const auto x = testing::uniform(rng, n, -3.0, 3.0);
        std::vector<double> b(n, 0.0);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < n; ++c) b[r] += a[r * n + c] * x[c];
        System s(a, b);
        ASSERT_TRUE(s.solve());
        for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(s.solution[i], x[i], 1e-9) << "n=" << n;
    }
}

TEST(Dense, pivots_at_or_below_epsilon_are_singular) {
    const std::vector<double> singular[][2] = {
        {{1, 2, 2, 4}, {1, 1}},
        {{epsilon}, {1}},
        {{-epsilon}, {1}},
        {{0, 0, 0, 1}, {1, 1}},
    };
    for (const auto& [a, b] : singular) {
        System s(a, b);
        EXPECT_EQ(outcome(s.solve()), "linear solve failed: singular dense linear system");
    }
}

TEST(Dense, empty_system_succeeds_without_touching_storage) {
    std::vector<double> matrix{5.0}, solution{6.0}, pivot{7.0};
    ASSERT_TRUE(solve_dense_in_place(matrix, {}, solution, pivot));
    EXPECT_EQ(matrix[0], 5.0);
    EXPECT_EQ(solution[0], 6.0);
    EXPECT_EQ(pivot[0], 7.0);
}
