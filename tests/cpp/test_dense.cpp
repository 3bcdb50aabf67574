#include "linalg/dense.hpp"
#include "numeric.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using quorvel::linalg::dense::solve_dense_in_place;

namespace {

// Solves a copy; the solution has one extra slot that must stay untouched.
struct Solved { Status status; V matrix, rhs, x; };
Solved solve(V a, V b) {
    V x(b.size() + 1, 42.0), pivot(b.size());
    auto status = solve_dense_in_place(a, b, x, pivot);
    return {status, a, b, x};
}

}  // namespace

TEST(Dense, small_systems_with_known_solutions) {
    struct Case { V a, b, x; };
    const Case cases[] = {
        {{0, 1, 1, 0}, {2, 3}, {3, 2}},  // needs the row swap
        {{1, 1, -1, 1}, {3, 1}, {1, 2}},
        {{3e-16}, {6e-16}, {2}},  // just above the absolute zero
    };
    for (const auto& c : cases) {
        const auto s = solve(c.a, c.b);
        ASSERT_TRUE(s.status);
        for (std::size_t i = 0; i < c.x.size(); ++i) EXPECT_DOUBLE_EQ(s.x[i], c.x[i]);
        EXPECT_EQ(s.x.back(), 42.0);
    }
    // Equal magnitudes keep the upper row as pivot, so the factor stays in row order.
    EXPECT_EQ(solve({1, 1, -1, 1}, {3, 1}).rhs[0], 3.0);
}

TEST(Dense, random_systems_reproduce_their_solution) {
    std::mt19937_64 rng(99);
    for (std::size_t n : {1u, 2u, 5u, 9u}) {
        const V a = support::uniform(rng, n * n, -1.0, 1.0), x = support::uniform(rng, n, -3.0, 3.0);
        V b(n, 0.0);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < n; ++c) b[r] += a[r * n + c] * x[c];
        const auto s = solve(a, b);
        ASSERT_TRUE(s.status);
        for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(s.x[i], x[i], 1e-9) << "n=" << n;
    }
}

TEST(Dense, pivots_at_or_below_epsilon_are_singular) {
    const V singular[][2] = {{{1, 2, 2, 4}, {1, 1}}, {{epsilon}, {1}}, {{-epsilon}, {1}}, {{0, 0, 0, 1}, {1, 1}}};
    for (const auto& [a, b] : singular)
        EXPECT_EQ(outcome(solve(a, b).status), "linear solve failed: singular dense linear system");
    // An empty system is solved without touching storage.
    V m{5.0}, x{6.0};
    ASSERT_TRUE(solve_dense_in_place(m, {}, x, m));
    EXPECT_EQ(m, V{5.0});
    EXPECT_EQ(x, V{6.0});
}
