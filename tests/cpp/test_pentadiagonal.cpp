#include "linalg/dense.hpp"
#include "linalg/pentadiagonal.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::linalg::pentadiagonal;

namespace {

// Solves (W + lambda D'D) z = W y with D'D assembled from the explicit second-difference rows.
V dense_reference(const V& y, const V& w, double lambda) {
    const std::size_t n = y.size();
    V a = penalty(n), b(n), z(n), pivot(n);
    for (double& v : a) v *= lambda;
    for (std::size_t i = 0; i < n; ++i) a[i * n + i] += w[i], b[i] = w[i] * y[i];
    EXPECT_TRUE(linalg::dense::solve_dense_in_place(a, b, z, pivot));
    return z;
}

}  // namespace

TEST(Pentadiagonal, solve_matches_dense_reference) {
    std::mt19937_64 rng(20240611);
    PentadiagonalWorkspace shared;  // reused across sizes: no stale band may leak into a solve
    // D'D is exact at every length, including the single difference row of n = 3.
    for (std::size_t n : {3u, 4u, 5u, 6u, 25u, 50u, 9u, 3u}) {
        for (double lambda : {1e-3, 1.0, 1e4}) {
            const V y = uniform(rng, n, -5.0, 5.0);
            V w = uniform(rng, n, 0.0, 2.0), z(n), parted(n);
            w[n / 2] = 0.0;
            const V expected = dense_reference(y, w, lambda);
            ASSERT_TRUE(solve_second_order(y, w, z, shared, lambda));
            for (std::size_t i = 0; i < n; ++i)
                EXPECT_NEAR(z[i], expected[i], 1e-9 * (1 + std::fabs(expected[i]))) << n << " " << lambda;
            // The separate steps (bands, right-hand side, factor and solve) give the fused solve's bits.
            PentadiagonalWorkspace parts(n);
            fill_second_order_bands(w, parts.diag, parts.off1, parts.off2, lambda);
            for (std::size_t i = 0; i < n; ++i) parts.rhs[i] = w[i] * y[i];
            ASSERT_TRUE(factor_and_solve(parted, parts));
            EXPECT_TRUE(same_bits(parted, z)) << n << " " << lambda;
        }
    }
    PentadiagonalWorkspace indefinite(5);
    fill_second_order_bands(V{1, 1, -9, 1, 1}, indefinite.diag, indefinite.off1, indefinite.off2, 1.0);
    V z(5);
    EXPECT_EQ(outcome(factor_and_solve(z, indefinite)), "linear solve failed: matrix was not positive definite");
}

TEST(Pentadiagonal, outcomes_and_untouched_output_on_failure) {
    const char* singular = "linear solve failed: matrix was not positive definite";
    struct Case { V y, w; std::size_t out; double lambda; const char* text; V z; };
    std::vector<Case> cases = {
        {{1, 2, 3, 4}, {1, 1, 1}, 4, kNaN, "length mismatch for weights: expected 4, got 3", {}},
        {{1, 2, 3, 4}, {1, 1, 1, 1}, 5, kNaN, "length mismatch for baseline: expected 4, got 5", {}},
        {{}, {}, 0, 1, "input signal must not be empty", {}},
        // Without a second difference lambda is never looked at.
        {{4}, {0.5}, 1, -1, "ok", {4}},
        {{3, 8}, {0.01, 0}, 2, kNaN, "ok", {3, 0}},
        {{1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}, 5, 1, singular, {}},
        {{1, 2, 3, 4, 5}, {1, 1, kNaN, 1, 1}, 5, 1, singular, {}},
    };
    for (double lambda : {-0.0, kNaN, kInf})
        cases.push_back({{1, 2, 3}, {1, 1, 1}, 3, lambda, "invalid parameter lambda: must be finite and positive", {}});
    for (const auto& c : cases) {
        V z(c.out, -7.0);
        PentadiagonalWorkspace ws;
        EXPECT_EQ(outcome(solve_second_order(c.y, c.w, z, ws, c.lambda)), c.text) << c.lambda;
        const V untouched(c.out, -7.0), &solved = c.z.empty() ? z : c.z;
        EXPECT_EQ(z, std::string(c.text) == "ok" ? solved : untouched) << c.lambda;
    }
}
