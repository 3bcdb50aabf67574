#include "core/numeric.hpp"
#include "linalg/dense.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using quorvel::linalg::dense::solve_dense_in_place;

namespace {

// Solves a copy; the solution has one extra slot that must stay untouched.
struct Solved { Status status; V rhs, x; };
Solved solve(V a, V b) {
    V x(b.size() + 1, 42.0), pivot(b.size());
    auto status = solve_dense_in_place(a, b, x, pivot);
    return {status, b, x};
}

}  // namespace

TEST(Dense, solves_known_and_random_systems) {
    struct Case { V a, x; double tol; };
    // A row swap, no swap, and a pivot just above the absolute zero are all exact.
    std::vector<Case> cases = {{{0, 1, 1, 0}, {3, 2}, 0.0}, {{1, 1, -1, 1}, {1, 2}, 0.0}, {{3e-16}, {2}, 0.0}};
    std::mt19937_64 rng(99);
    for (std::size_t n : {1u, 5u, 9u})
        cases.push_back({uniform(rng, n * n, -1.0, 1.0), uniform(rng, n, -3.0, 3.0), 1e-9});
    for (const auto& c : cases) {
        const std::size_t n = c.x.size();
        V b(n, 0.0);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t k = 0; k < n; ++k) b[r] += c.a[r * n + k] * c.x[k];
        const auto s = solve(c.a, b);
        ASSERT_TRUE(s.status);
        for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(s.x[i], c.x[i], c.tol) << "n=" << n;
        EXPECT_EQ(s.x.back(), 42.0);
    }
    // Equal magnitudes keep the upper row as pivot, so the right side stays in row order.
    EXPECT_EQ(solve({1, 1, -1, 1}, {3, 1}).rhs[0], 3.0);
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
