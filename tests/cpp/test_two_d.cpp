#include <numeric>

#include "core/numeric.hpp"
#include "morphology/two_d/morphology.hpp"
#include "polynomial/two_d/polynomial.hpp"
#include "support.hpp"
#include "whittaker/two_d/whittaker.hpp"
#include "whittaker/workspace.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::two_d;
using namespace quorvel::two_d::whittaker;

namespace {

const Whittaker2DParams kDefaults{std::nullopt, std::nullopt, 1e4, 50, 1e-3, 500, 1e-6};

}  // namespace

TEST(TwoDWhittaker, product_and_solvers_match_the_assembled_matrix) {
    struct Shape { std::size_t rows, cols; double lr, lc; };
    std::mt19937_64 rng(17);
    for (const auto& s : {Shape{3, 3, 1, 1}, {3, 5, 2.5, 0.75}, {5, 3, 40, 3}, {4, 6, 0.5, 8}, {7, 4, 100, 1}}) {
        const std::size_t n = s.rows * s.cols;
        const V w = uniform(rng, n, 0.1, 1.0), b = uniform(rng, n, -2e3, 2e3);
        V out(n), r(n), d(n), p(n), direct(n, kNaN), cg(n, 0.0), step(n, 0.0);
        apply_system({s.rows, s.cols, s.lr, s.lc, w}, b, out);  // FastPaths checks it bit for bit
        // lambda_cols unset falls back to lambda; the direct solve ignores x on entry. |b| <= 2e3 sets the scale.
        Whittaker2DParams params{s.lr, std::nullopt, s.lc, 1, 1.0, 5000, 1e-10};
        linalg::banded::SymmetricBandedWorkspace banded;
        ASSERT_TRUE(solve_weighted_system(grid_system(params, s.rows, s.cols, w), cg_limits(params), b, direct, r, d, p,
                                          banded, true));
        expect_near_all(dense_product(s.rows, s.cols, s.lr, s.lc, w, direct), b, 1e-7);
        ASSERT_TRUE(solve_weighted_system(grid_system(params, s.rows, s.cols, w), cg_limits(params), b, cg, r, d, p,
                                          banded, false));
        expect_near_all(cg, direct, 1e-6);
        // A single step from zero moves along b by alpha = b.b / b.Ab.
        params.cg_max_iter = 1;
        ASSERT_TRUE(solve_weighted_system(grid_system(params, s.rows, s.cols, w), cg_limits(params), b, step, r, d, p,
                                          banded, false));
        const double alpha = std::inner_product(b.begin(), b.end(), b.begin(), 0.0) /
                             std::inner_product(b.begin(), b.end(), out.begin(), 0.0);
        for (std::size_t k = 0; k < n; ++k) EXPECT_NEAR(step[k], alpha * b[k], 1e-12 * std::abs(b[k]));
    }
}

TEST(TwoDWhittaker, constant_grid_reports) {
    const V data(1600, 5.0);
    const auto ar = arpls({data, 40, 40}, kDefaults), as = asls({data, 40, 40}, {kDefaults, 0.01});
    const FitReport a = ar.value().report, s = as.value().report;
    EXPECT_TRUE(ar.value().baseline == data && as.value().baseline == data);
    EXPECT_TRUE(a.iterations == 1 && a.last_change == 0.0 && a.converged);
    EXPECT_TRUE(s.iterations == 2 && s.last_change == 0.0 && s.converged);
    const Asls2DParams once{{std::nullopt, std::nullopt, 1e4, 1, 1e-3, 500, 1e-6}, 0.01};  // one iteration only
    const FitReport one = asls({data, 40, 40}, once).value().report;
    EXPECT_TRUE(one.iterations == 1 && std::abs(one.last_change - 0.01) < 1e-12 && !one.converged);
}

TEST(TwoDWhittaker, validation_runs_in_order) {
    const std::string positive = ": must be finite and positive", nonzero = ": must be greater than zero";
    struct Case { std::uint64_t rows, cols, out_r, out_c; std::string text; void (*edit)(Whittaker2DParams&); };
    const Case cases[] = {
        {3, 3, 3, 3, "invalid parameter lambda" + positive, [](auto& q) { q.lambda = kNaN; q.lambda_rows = 0.0; }},
        {3, 3, 3, 3, "invalid parameter lambda_rows" + positive, [](auto& q) { q.lambda_rows = 0.0; q.max_iter = 0; }},
        {3, 3, 3, 3, "invalid parameter max_iter" + nonzero, [](auto& q) { q.max_iter = 0; q.tol = 0; }},
        {3, 3, 3, 3, "invalid parameter tol" + positive, [](auto& q) { q.tol = 0; q.cg_tol = -1; }},
        {2, 10, 10, 2, "invalid parameter cg_tol" + positive, [](auto& q) { q.cg_tol = kInf; }},
        {3, 4, 4, 3, "length mismatch for output: expected 12, got 12", [](auto&) {}},
        {2, 10, 2, 10, "input length 20 is too short for two_d_whittaker; minimum is 9", [](auto&) {}},
        {5, 5, 5, 5, "invalid parameter diff_order: must be 1, 2 or 3", [](auto& q) { q.diff_order_cols = 0; }},
        {5, 5, 5, 5, "invalid parameter diff_order: must be 1, 2 or 3", [](auto& q) { q.diff_order_rows = 4; }},
        {3, 9, 3, 9, "invalid parameter diff_order: must be below the number of points along its axis",
         [](auto& q) { q.diff_order_rows = 3; }},
        {4, 3, 4, 3, "ok", [](auto& q) { q.diff_order_rows = 3; q.diff_order_cols = 1; }},
        {3, 3, 3, 3, "ok", [](auto& q) { q.lambda = 5e-324; q.lambda_cols = 1e3; q.max_iter = 1; }},
    };
    for (const auto& c : cases) {
        Whittaker2DParams params = kDefaults;
        c.edit(params);
        V data(c.rows * c.cols, 1.0), out(c.out_r * c.out_c);
        Whittaker2DWorkspace ws;
        const Grid grid{data, c.rows, c.cols};
        EXPECT_EQ(outcome(fit_into(grid, params, AslsWeights{0.1}, {out, c.out_r, c.out_c}, ws)), c.text);
        EXPECT_EQ(outcome(fit_into(grid, params, ArPlsWeights{}, {out, c.out_r, c.out_c}, ws)), c.text);
    }
    // A mask must cover the grid and keep the four points a bilinear surface needs.
    V data(16, 1.0), out(16);
    Whittaker2DWorkspace ws;
    const bool corners[16] = {1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1};
    bool three[16] = {};
    three[0] = three[5] = three[10] = true;
    const auto masked = [&](Mask mask) {
        return outcome(fit_controlled({data, 4, 4}, kDefaults, AslsWeights{0.1}, {out, 4, 4}, ws, {mask}));
    };
    EXPECT_EQ(masked(Mask(corners, 15)), "length mismatch for mask: expected 16, got 15");
    EXPECT_EQ(masked(Mask(three, 16)), "invalid parameter mask: must keep at least four samples");
    EXPECT_EQ(masked(Mask(corners, 16)), "ok");
    // Third differences along both axes leave the nine products of quadratics free, along one of them six.
    bool block[16] = {};  // a 3 x 3 block pins them down; eight of its samples cannot
    for (std::size_t k = 0; k < 16; ++k) block[k] = k / 4 < 3 && k % 4 < 3;
    block[10] = false;
    Whittaker2DParams third = kDefaults;
    third.diff_order_rows = third.diff_order_cols = 3;
    const auto masked_third = [&](Mask mask) {
        return outcome(fit_controlled({data, 4, 4}, third, AslsWeights{0.1}, {out, 4, 4}, ws, {mask}));
    };
    EXPECT_EQ(masked_third(Mask(block, 16)), "invalid parameter mask: must keep at least nine samples");
    block[10] = true;
    EXPECT_EQ(masked_third(Mask(block, 16)), "ok");
    third.diff_order_cols = 2;
    EXPECT_EQ(masked_third(Mask(corners, 16)), "invalid parameter mask: must keep at least six samples");
    Whittaker2DParams no_lambda = kDefaults;
    no_lambda.lambda = 0.0;
    EXPECT_EQ(outcome(asls({V{}, 0, 3}, {no_lambda, 0.0})), "invalid parameter rows" + nonzero);
    const std::string bad_p = "invalid parameter p: must be finite and between 0 and 1";
    for (double p : {0.0, 1.0, kNaN}) EXPECT_EQ(outcome(asls({V(9, 1.0), 3, 3}, {no_lambda, p})), bad_p);
}

TEST(TwoDRollingBall, output_shape_and_empty_grids) {
    V out(12), none;
    EXPECT_EQ(outcome(morphology::rolling_ball_into({V(12, 1.0), 3, 4}, 3, 3, {out, 4, 3})),
              "length mismatch for output: expected 12, got 12");
    // Grids without elements have nothing to read or write (the sanitizer build watches this).
    EXPECT_EQ(outcome(morphology::rolling_ball_into({none, 4, 0}, 3, 3, {none, 4, 0})), "ok");
    EXPECT_EQ(outcome(morphology::rolling_ball_into({none, 0, 5}, 3, 3, {none, 0, 5})), "ok");
}

TEST(SurfacePolynomial, a_reused_workspace_reproduces_surfaces_in_its_basis) {
    V data(12), out(12, 0.0);
    for (std::size_t s = 0; s < 12; ++s) {
        const double y = static_cast<double>(s / 4) - 1.0, x = static_cast<double>(s % 4) * 2.0 / 3.0 - 1.0;
        data[s] = 1 + 2 * x + 3 * y + x * y + x * x;
    }
    // The workspace first serves the transposed shape: its cached basis must follow the shape.
    polynomial::SurfacePolynomialWorkspace ws;
    ASSERT_TRUE(polynomial::fit_weighted_surface_with_workspace(data, 4, 3, V(12, 1.0), 2, out, ws));
    ASSERT_TRUE(polynomial::fit_weighted_surface_with_workspace(data, 3, 4, V(12, 1.0), 2, out, ws));
    expect_near_all(out, data, 1e-12);
    EXPECT_EQ(polynomial::poly({data, 3, 4}, 2).value().baseline, out);
}

TEST(SurfacePolynomial, degenerate_grids_and_orders) {
    V row(20);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<double>(i % 2 * 19);
    expect_near_all(polynomial::poly({row, 1, 20}, 0).value().baseline, V(20, 9.5), 1e-14);
    for (std::uint64_t order : {std::uint64_t{1} << 32, ~std::uint64_t{0}}) {
        EXPECT_EQ(outcome(polynomial::poly({V(4, 1.0), 2, 2}, order)), "invalid parameter order: is too large");
    }
}

TEST(SurfacePolynomial, ignored_weights_have_no_influence) {
    std::mt19937_64 rng(3);
    V data = uniform(rng, 30, -1, 1), weights = uniform(rng, 30, 0.5, 2), first(30), second(30);
    const std::size_t ignored[] = {3, 10, 17, 22};  // weights 0, negative, NaN and epsilon
    weights[3] = 0.0, weights[10] = -1.0, weights[17] = kNaN, weights[22] = epsilon;
    polynomial::SurfacePolynomialWorkspace ws;
    ASSERT_TRUE(polynomial::fit_weighted_surface_with_workspace(data, 5, 6, weights, 2, first, ws));
    for (std::size_t s : ignored) data[s] = 1e6;
    ASSERT_TRUE(polynomial::fit_weighted_surface_with_workspace(data, 5, 6, weights, 2, second, ws));
    EXPECT_EQ(first, second);
    for (std::size_t s : ignored) EXPECT_TRUE(std::isfinite(first[s]));
}
