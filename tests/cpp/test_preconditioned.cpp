#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

#include "linalg/dense.hpp"
#include "support.hpp"
#include "whittaker/two_d/bicgstab.hpp"
#include "whittaker/two_d/preconditioned_system.hpp"
#include "whittaker/two_d/uneven_axes.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::two_d;
using namespace quorvel::two_d::whittaker;

namespace {

struct Case {
    std::uint64_t rows, cols;
    double lr, lc;
    unsigned order_r = 2, order_c = 2;
};

// Each shape in the difference orders its axes admit: the default, both alike, and two apart.
std::vector<Case> in_every_order(std::initializer_list<Case> shapes) {
    std::vector<Case> cases;
    for (Case c : shapes) {
        for (const auto& [r, l] : {std::pair{2u, 2u}, {1u, 1u}, {3u, 3u}, {1u, 3u}}) {
            c.order_r = r;
            c.order_c = l;
            if (c.rows > r && c.cols > l) cases.push_back(c);
        }
    }
    return cases;
}

V product(const Case& c, const V& w, const V& v) {
    return dense_product(c.rows, c.cols, c.lr, c.lc, w, v, c.order_r, c.order_c);
}

V dense_solve(const Case& c, const V& w, const V& b) {
    const std::size_t n = b.size();
    V matrix(n * n), unit(n, 0.0), rhs = b, x(n), pivot(n);
    for (std::size_t l = 0; l < n; ++l) {  // column l of A is A e_l
        unit[l] = 1.0;
        const V column = product(c, w, unit);
        for (std::size_t k = 0; k < n; ++k) matrix[k * n + l] = column[k];
        unit[l] = 0.0;
    }
    EXPECT_TRUE(linalg::dense::solve_dense_in_place(matrix, rhs, x, pivot));
    return x;
}

// The matrix of A + F, F the first differences of `first` assembled pair by pair, each row of F times its factor.
V dense_matrix(const Case& c, const V& w, const FirstDifferences& first) {
    const std::size_t n = c.rows * c.cols;
    V matrix(n * n), unit(n, 0.0);
    for (std::size_t l = 0; l < n; ++l) {
        unit[l] = 1.0;
        const V column = product(c, w, unit);
        for (std::size_t k = 0; k < n; ++k) matrix[k * n + l] = column[k];
        unit[l] = 0.0;
    }
    const auto kept = [&](std::size_t k) { return first.keep.empty() || first.keep[k] == 1.0; };
    const auto factor = [&](std::size_t k) { return first.row_factor.empty() ? 1.0 : first.row_factor[k]; };
    const auto join = [&](std::size_t k, std::size_t l, double lambda) {
        if (!kept(k) || !kept(l)) return;
        for (const auto& [a, b] : {std::pair{k, l}, std::pair{l, k}}) {
            matrix[a * n + a] += factor(a) * lambda;
            matrix[a * n + b] -= factor(a) * lambda;
        }
    };
    for (std::size_t k = 0; k < n; ++k) {
        if ((k + 1) % c.cols != 0) join(k, k + 1, first.lambda_c);
        if (k + c.cols < n) join(k, k + c.cols, first.lambda_r);
    }
    return matrix;
}

V solve_dense(V matrix, V rhs) {
    V x(rhs.size()), pivot(rhs.size());
    EXPECT_TRUE(linalg::dense::solve_dense_in_place(matrix, rhs, x, pivot));
    return x;
}

double norm(const V& v) { return std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0)); }

// lambda_cols unset: the columns' smoothing weight falls back to lambda.
Whittaker2DParams params_for(const Case& c, double tol, std::uint64_t max_iter) {
    return {c.lr, std::nullopt, c.lc, 1, 1.0, max_iter, tol, c.order_r, c.order_c};
}

GridSystem system_of(const Case& c, const V& w, const FirstDifferences& first) {
    return {c.rows, c.cols, c.lr, c.lc, w, first, c.order_r, c.order_c};
}

}  // namespace

TEST(PreconditionedSystem, matches_a_dense_solve_on_any_grid) {
    std::mt19937_64 rng(11);
    PreconditionedWorkspace ws;  // shared: every case re-plans the same workspace
    for (const Case& c : in_every_order({{3, 40, 1e3, 1e3}, {40, 3, 50, 2e3}, {17, 12, 1e4, 1e4}, {13, 23, 3, 0.5},
                                         {17, 12, 1e5, 10}, {12, 17, 10, 1e5}, {3, 3, 1, 1}, {4, 30, 1e3, 1e2}})) {
        const std::size_t n = c.rows * c.cols;
        V w = uniform(rng, n, 0.01, 1.0), b = uniform(rng, n, -50, 50), x(n, 0.0);
        for (std::size_t k = 0; k < n; k += 5) w[k] = 0.0;  // masked points
        ASSERT_EQ(outcome(solve_preconditioned(c.rows, c.cols, params_for(c, 1e-13, 200), w, b, x, ws)), "ok");
        const V exact = dense_solve(c, w, b);
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_NEAR(x[k], exact[k], 1e-8 * norm(exact)) << c.rows << "x" << c.cols << " order " << c.order_r;
        }
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

// IAsLS' first differences (with a mask's dropped pairs) and drPLS' (rows scaled) through every solver they meet.
TEST(PreconditionedSystem, first_differences_match_a_dense_solve_in_every_solver) {
    std::mt19937_64 rng(3);
    PreconditionedWorkspace mg;
    BicgstabWorkspace krylov;
    linalg::banded::SymmetricBandedWorkspace banded;
    linalg::banded::GeneralBandedWorkspace lu;
    // 12 x 17 coarsens; 3 x 40 and 5 x 6 solve their single level along the shorter axis.
    for (const Case& c : in_every_order({{12, 17, 1e3, 50}, {3, 40, 20, 1e3}, {5, 6, 1, 3}, {30, 4, 10, 50}})) {
        const std::size_t n = c.rows * c.cols;
        const V w = uniform(rng, n, 0.01, 1.0), b = uniform(rng, n, -50, 50), factor = uniform(rng, n, 1.0, 3.0);
        V keep(n, 1.0), r(n), d(n), q(n);
        for (std::size_t k = 1; k < n; k += 7) keep[k] = 0.0;
        const CgLimits tight{400, 1e-13};
        const auto near = [&](const V& x, const V& exact, const char* solver) {
            for (std::size_t k = 0; k < n; ++k) {
                ASSERT_NEAR(x[k], exact[k], 1e-8 * norm(exact)) << solver << c.cols << " order " << c.order_r;
            }
        };
        for (const FirstDifferences& first : {FirstDifferences{0.7, 4.0}, FirstDifferences{2.0, 0.1, keep}}) {
            const GridSystem system = system_of(c, w, first);
            const V exact = solve_dense(dense_matrix(c, w, first), b);
            V x(n, 0.0), cg(n, 0.0), direct(n);
            ASSERT_TRUE(solve_preconditioned(system, tight, b, x, mg));
            near(x, exact, "multigrid");
            ASSERT_TRUE(solve_weighted_system(system, {5000, 1e-13}, b, cg, r, d, q, banded, false));
            near(cg, exact, "cg");
            if (!solved_directly(system)) continue;
            ASSERT_TRUE(solve_weighted_system(system, tight, b, direct, r, d, q, banded, true));
            near(direct, exact, "cholesky");
        }
        const GridSystem divided = system_of(c, w, {1.0, 1.0, {}, factor});
        const GridSystem neighbour = system_of(c, w, {1.0, 1.0});
        const V exact = solve_dense(dense_matrix(c, w, divided.first), b);
        for (Multigrid* multigrid : {&mg.multigrid, static_cast<Multigrid*>(nullptr)}) {
            V x(n, 0.0);
            ASSERT_TRUE(solve_bicgstab(divided, neighbour, {2000, 1e-13}, b, x, krylov, multigrid));
            near(x, exact, multigrid ? "bicgstab, multigrid" : "bicgstab");
        }
        V direct = b;
        fill_general_bands(divided, lu);
        ASSERT_TRUE(lu.factor());
        lu.substitute(direct);
        near(direct, exact, "lu");
    }
}

// Weights decades apart between neighbours, as asPLS' rows divided by their |residual| give: the Galerkin coarse
// grids solve them exactly as a dense solve does, and in a few steps where averaged weights take many.
TEST(PreconditionedSystem, galerkin_coarsening_takes_weights_decades_apart) {
    std::mt19937_64 rng(7);
    PreconditionedWorkspace ws;  // shared: the plans alternate between the two coarsenings
    // 3 x 40 and 40 x 3 halve one axis only; 5 x 6 is a single level.
    for (const Case& c : in_every_order({{17, 12, 1e4, 1e4}, {14, 15, 1e5, 1e3}, {3, 40, 1e3, 1e3}, {40, 3, 50, 2e3},
                                         {5, 6, 1, 3}})) {
        const std::size_t n = c.rows * c.cols;
        V w = uniform(rng, n, -3.0, 9.0), b = uniform(rng, n, -50, 50);
        for (double& v : w) v = std::pow(10.0, v);
        for (std::size_t k = 0; k < n; k += 9) w[k] = 0.0;
        const V exact = dense_solve(c, w, b);
        V x(n, 0.0);
        ASSERT_TRUE(solve_preconditioned(system_of(c, w, {}), {200, 1e-13}, b, x, ws, Coarsening::galerkin));
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_NEAR(x[k], exact[k], 1e-8 * norm(exact)) << c.rows << "x" << c.cols << " order " << c.order_r;
        }
    }
    // Mostly modest, one in fifty pinned, as asPLS' weights are.
    const Case c{96, 80, 1e5, 1e5};
    V w = uniform(rng, c.rows * c.cols, -1.0, 3.0);
    for (std::size_t k = 0; k < w.size(); ++k) w[k] = std::pow(10.0, w[k] + (k % 50 == 7 ? 7.0 : 0.0));
    const V b = uniform(rng, w.size(), 0, 100);
    std::vector<std::uint64_t> steps;
    for (Coarsening kind : {Coarsening::averaged, Coarsening::galerkin}) {
        V x(w.size(), 0.0);
        ASSERT_TRUE(solve_preconditioned(system_of(c, w, {}), {500, 1e-10}, b, x, ws, kind));
        steps.push_back(ws.steps);
    }
    EXPECT_GT(steps[0], 100u);  // 169 today
    EXPECT_LE(steps[1], 53u);   // 49 today; 56 with the coarsest grid's couplings left out
}

// Steps a hundred times apart along both axes, or beside an even one, where point smoothing took thousands of steps:
// the line smoother meets the tolerance in a few, with IAsLS' first differences (a mask's pairs dropped) too.
TEST(PreconditionedSystem, line_smoothing_solves_steps_a_hundred_times_apart) {
    std::mt19937_64 rng(13);
    PreconditionedWorkspace ws;
    const std::uint64_t rows = 23, cols = 20, n = rows * cols;
    const auto spread = [](std::uint64_t m, bool even) {
        V t(m);
        for (std::uint64_t k = 0; k < m; ++k) t[k] = even ? double(k) : std::pow(10.0, 2.0 * double(k) / double(m - 1));
        return t;
    };
    V w = uniform(rng, n, 0.01, 1.0), keep(n, 1.0);
    const V b = uniform(rng, n, -50, 50);
    for (std::size_t k = 0; k < n; k += 6) keep[k] = 0.0, w[k] = 0.0;
    for (const auto& [order_r, order_c] : {std::pair{1u, 1u}, {2u, 2u}, {3u, 3u}, {1u, 3u}}) {
        for (bool even_rows : {false, true}) {
            const V x = spread(rows, even_rows), z = spread(cols, false);
            UnevenGrid grid;
            ASSERT_TRUE(prepare_uneven_grid(grid, x, z, rows, cols, order_r, order_c));
            const double lambda = std::pow(10.0, 3.0 - 2.0 * order_c);
            for (const FirstDifferences& first : {FirstDifferences{}, FirstDifferences{0.5, 2.0, keep}}) {
                GridSystem system{rows, cols, lambda, 2 * lambda, w, first, order_r, order_c, &grid};
                system.first = system.with_gains(first);
                V matrix(n * n), unit(n, 0.0), column(n);
                for (std::size_t l = 0; l < n; ++l) {
                    unit[l] = 1.0;
                    apply_system(system, unit, column);
                    for (std::size_t k = 0; k < n; ++k) matrix[k * n + l] = column[k];
                    unit[l] = 0.0;
                }
                const V exact = solve_dense(matrix, b);
                V solved(n, 0.0);
                ASSERT_TRUE(solve_preconditioned(system, {60, 1e-12}, b, solved, ws));
                EXPECT_LE(ws.steps, 40u) << order_r << order_c << even_rows;  // 5 to 28 today
                V error(n);
                for (std::size_t k = 0; k < n; ++k) error[k] = solved[k] - exact[k];
                EXPECT_LE(norm(error), 1e-8 * norm(exact)) << order_r << order_c << even_rows << first.present();
            }
        }
    }
}
