#include <cmath>
#include <numeric>

#include "linalg/dense.hpp"
#include "support.hpp"
#include "whittaker/two_d/preconditioned_system.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::two_d;
using namespace quorvel::two_d::whittaker;

namespace {

struct Case {
    std::uint64_t rows, cols;
    double lr, lc;
};

V dense_solve(const Case& c, const V& w, const V& b) {
    const std::size_t n = b.size();
    V matrix(n * n), unit(n, 0.0), rhs = b, x(n), pivot(n);
    for (std::size_t l = 0; l < n; ++l) {  // column l of A is A e_l
        unit[l] = 1.0;
        const V column = dense_product(c.rows, c.cols, c.lr, c.lc, w, unit);
        for (std::size_t k = 0; k < n; ++k) matrix[k * n + l] = column[k];
        unit[l] = 0.0;
    }
    EXPECT_TRUE(linalg::dense::solve_dense_in_place(matrix, rhs, x, pivot));
    return x;
}

double norm(const V& v) { return std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0)); }

// lambda_cols unset: the columns' smoothing weight falls back to lambda.
Whittaker2DParams params_for(const Case& c, double tol, std::uint64_t max_iter) {
    return {c.lr, std::nullopt, c.lc, 1, 1.0, max_iter, tol};
}

}  // namespace

TEST(PreconditionedSystem, matches_a_dense_solve_on_any_grid) {
    std::mt19937_64 rng(11);
    PreconditionedWorkspace ws;  // shared: every case re-plans the same workspace
    for (const Case& c : {Case{3, 40, 1e3, 1e3}, Case{40, 3, 50, 2e3}, Case{17, 12, 1e4, 1e4}, Case{13, 23, 3, 0.5},
                          Case{17, 12, 1e5, 10}, Case{12, 17, 10, 1e5}, Case{3, 3, 1, 1}}) {
        const std::size_t n = c.rows * c.cols;
        V w = uniform(rng, n, 0.01, 1.0), b = uniform(rng, n, -50, 50), x(n, 0.0);
        for (std::size_t k = 0; k < n; k += 5) w[k] = 0.0;  // masked points
        ASSERT_EQ(outcome(solve_preconditioned(c.rows, c.cols, params_for(c, 1e-13, 200), w, b, x, ws)), "ok");
        const V exact = dense_solve(c, w, b);
        for (std::size_t k = 0; k < n; ++k) EXPECT_NEAR(x[k], exact[k], 1e-8 * norm(exact)) << c.rows << "x" << c.cols;
        EXPECT_LE(ws.steps, 40u);
    }
}

TEST(PreconditionedSystem, stops_by_the_residual_rule) {
    std::mt19937_64 rng(5);
    const Case c{20, 30, 1e4, 1e4};
    const V w = uniform(rng, 600, 0.01, 1.0), b = uniform(rng, 600, 0, 100);
    PreconditionedWorkspace ws;
    V x(600, 0.0);
    ASSERT_TRUE(solve_preconditioned(c.rows, c.cols, params_for(c, 1e-6, 500), w, b, x, ws));
    V r = dense_product(c.rows, c.cols, c.lr, c.lc, w, x);
    for (std::size_t k = 0; k < r.size(); ++k) r[k] = b[k] - r[k];
    EXPECT_LE(norm(r), 1.001e-6 * norm(b));
    EXPECT_GT(ws.steps, 1u);
    EXPECT_LE(ws.steps, 13u);  // 11 today: a weaker smoother still converges, in more steps

    // A start that already meets the rule is returned untouched, after no step.
    const V start = x;
    ASSERT_TRUE(solve_preconditioned(c.rows, c.cols, params_for(c, 1e-6, 500), w, b, x, ws));
    EXPECT_TRUE(ws.steps == 0 && x == start);
    V zero(600, 0.0);
    ASSERT_TRUE(solve_preconditioned(c.rows, c.cols, params_for(c, 1e-6, 500), w, V(600, 0.0), zero, ws));
    EXPECT_TRUE(ws.steps == 0 && zero == V(600, 0.0));
    // The cap counts steps: one, then success with the last iterate.
    x.assign(600, 0.0);
    ASSERT_TRUE(solve_preconditioned(c.rows, c.cols, params_for(c, 1e-300, 1), w, b, x, ws));
    EXPECT_TRUE(ws.steps == 1 && x != V(600, 0.0));
}

TEST(PreconditionedSystem, failures_are_errors) {
    const Case c{20, 30, 1e4, 1e4};
    const auto params = params_for(c, 1e-6, 500);
    PreconditionedWorkspace ws;
    V x(600, 0.0), b(600, 1.0), w(600, 1.0);
    // No weight at all leaves planes in the penalty's null space: singular.
    EXPECT_EQ(outcome(solve_preconditioned(20, 30, params, V(600, 0.0), b, x, ws)),
              "linear solve failed: 2D Whittaker multigrid coarsest system was not positive definite");
    for (double bad : {kNaN, kInf}) {
        w[123] = bad;
        EXPECT_EQ(outcome(solve_preconditioned(20, 30, params, w, b, x, ws)).rfind("linear solve failed", 0), 0u);
    }
    Whittaker2DParams bad_lambda = params;
    bad_lambda.lambda = kNaN;  // lambda_rows is set, so only the columns fall back to it
    EXPECT_EQ(outcome(solve_preconditioned(20, 30, bad_lambda, w, b, x, ws)),
              "invalid parameter lambda: must be finite and positive");
    EXPECT_EQ(outcome(solve_preconditioned(20, 30, params, V(599, 1.0), b, x, ws)),
              "length mismatch for weights: expected 600, got 599");
    EXPECT_EQ(outcome(solve_preconditioned(20, 30, params, w, V(599, 1.0), x, ws)),
              "length mismatch for rhs: expected 600, got 599");
    EXPECT_EQ(outcome(solve_preconditioned(2, 300, params, w, b, x, ws)),
              "input length 600 is too short for two_d_whittaker; minimum is 9");
}
