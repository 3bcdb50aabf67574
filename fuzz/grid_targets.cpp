// The grid operations with their own windows, orders and Whittaker parameters. Their inputs
// always hold rows * cols samples: checking that is the dispatch's job (dispatch_2d).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "checks.hpp"
#include "morphology/extrema.hpp"
#include "targets.hpp"
#include "two_d/morphology.hpp"
#include "two_d/polynomial.hpp"
#include "two_d/preconditioned_system.hpp"
#include "two_d/whittaker.hpp"

namespace quorvel::fuzz {
namespace {

struct GridData {
    std::uint64_t rows, cols;
    std::vector<double> values;
    two_d::Grid grid() const { return {values, rows, cols}; }
};

// A grid of at most `most` samples; a zero extent comes with no samples.
GridData grid(ByteReader& in, std::uint64_t most = 4096) {
    const std::uint64_t rows = in.upto(64), cols = in.upto(64);
    const std::uint64_t fitted = rows == 0 ? 0 : std::min(cols, most / rows);
    return {rows, fitted, in.signal(rows * fitted)};
}

// Separable extremum over the reflected (2hr + 1) x (2hc + 1) window, NaN never winning.
std::vector<double> scanned_extremum(const GridData& g, std::uint64_t hr, std::uint64_t hc, bool minimum) {
    const auto reflect = [](std::uint64_t i, std::uint64_t h, std::uint64_t d, std::uint64_t n) {
        return quorvel::morphology::reflect_index(static_cast<std::int64_t>(i + d) - static_cast<std::int64_t>(h), n);
    };
    std::vector<double> out(g.values.size());
    for (std::uint64_t r = 0; r < g.rows; ++r) {
        for (std::uint64_t c = 0; c < g.cols; ++c) {
            double v = minimum ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
            for (std::uint64_t dr = 0; dr <= 2 * hr; ++dr) {
                for (std::uint64_t dc = 0; dc <= 2 * hc; ++dc) {
                    const double s = g.values[reflect(r, hr, dr, g.rows) * g.cols + reflect(c, hc, dc, g.cols)];
                    if (minimum ? s < v : s > v) v = s;
                }
            }
            out[r * g.cols + c] = v;
        }
    }
    return out;
}

// Windows of at most 2 * extent + 3, shrunk until the box mean stays within a few million steps.
std::pair<std::uint64_t, std::uint64_t> windows(ByteReader& in, const GridData& g) {
    std::uint64_t wr = in.upto(2 * g.rows + 3), wc = in.upto(2 * g.cols + 3);
    while (g.values.size() * ((wr | 1) + 1) * ((wc | 1) + 1) > 1'000'000) (wr > wc ? wr : wc) /= 2;
    return {wr, wc};
}

void check_extrema(ByteReader& in, const GridData& g) {
    if (g.values.empty()) return;
    const std::uint64_t hr = in.upto(g.rows + 1), hc = in.upto(g.cols + 1);
    if (g.values.size() * (2 * hr + 1) * (2 * hc + 1) > 300'000) return;
    std::vector<double> temp(g.values.size()), low(g.values.size()), high(g.values.size());
    two_d::morphology::moving_min_reflect_with_workspace(g.values, g.rows, g.cols, hr, hc, temp, low);
    two_d::morphology::moving_max_reflect_with_workspace(g.values, g.rows, g.cols, hr, hc, temp, high);
    // Equal as numbers: only the sign of an extremal zero may differ from the scan.
    const auto lowest = scanned_extremum(g, hr, hc, true), highest = scanned_extremum(g, hr, hc, false);
    for (std::size_t i = 0; i < low.size(); ++i) {
        require(low[i] == lowest[i], "grid moving minimum differs from the scan");
        require(high[i] == highest[i], "grid moving maximum differs from the scan");
    }
}

two_d::whittaker::Whittaker2DParams whittaker_params(ByteReader& in) {
    two_d::whittaker::Whittaker2DParams params{};
    if (in.flag()) params.lambda_rows = in.real();
    if (in.flag()) params.lambda_cols = in.real();
    params.lambda = in.real();
    params.max_iter = in.upto(6);
    params.tol = in.real();
    params.cg_max_iter = in.upto(40);
    params.cg_tol = in.real();
    return params;
}

}  // namespace

void grid_rolling_ball(ByteReader& in) {
    const GridData g = grid(in);
    const auto [wr, wc] = windows(in, g);
    const auto fit = two_d::morphology::rolling_ball(g.grid(), wr, wc);
    if (!failed(fit)) require(fit.value().baseline.size() == g.values.size(), "grid rolling ball has the wrong length");
    // An output of another shape must be refused before anything is written. Unlike the
    // allocating form, the `_into` form takes the grid's shape as valid, zero extents included.
    const std::uint64_t rows = in.flag() ? in.upto(g.rows + 1) : g.rows;
    const std::uint64_t cols = in.flag() ? in.upto(g.cols + 1) : g.cols;
    std::vector<double> out(rows * cols, 0.0);
    const auto into = two_d::morphology::rolling_ball_into(g.grid(), wr, wc, {out, rows, cols});
    if (!failed(into)) {
        require(rows == g.rows && cols == g.cols, "grid rolling ball accepted another output shape");
        // Only the allocating form refuses a grid without elements.
        require(g.values.empty() || (!failed(fit) && same_bits(out, fit.value().baseline)),
                "grid rolling ball forms differ");
    }
    check_extrema(in, g);
}

void grid_polynomial(ByteReader& in) {
    const GridData g = grid(in);
    std::uint64_t order = in.upto(5);
    if (in.u8() % 4 == 0) order = in.flag() ? in.u64() : std::numeric_limits<std::uint64_t>::max() - in.upto(2);
    // From order 64 on no grid here has enough samples; between 6 and 63 a fit would be slow.
    if (order > 5 && order < 64) order = 5;
    const auto fit = two_d::polynomial::poly(g.grid(), order);
    if (!failed(fit)) require(fit.value().baseline.size() == g.values.size(), "surface has the wrong length");
    const std::uint64_t rows = in.flag() ? in.upto(g.rows + 1) : g.rows;
    std::vector<double> out(rows * g.cols, 0.0);
    if (!failed(two_d::polynomial::poly_into(g.grid(), order, {out, rows, g.cols}))) {
        require(rows == g.rows, "surface accepted another output shape");
        require(!failed(fit) && same_bits(out, fit.value().baseline), "surface forms differ");
    }

    // One workspace for two shapes and back: its cached basis must follow the shape.
    if (g.values.empty()) return;
    const std::vector<double> weights = in.signal(in.around(g.values.size()));
    const std::uint64_t small_order = in.upto(4);
    two_d::polynomial::SurfacePolynomialWorkspace workspace;
    std::vector<double> first(g.values.size()), again(g.values.size());
    const auto a = two_d::polynomial::fit_weighted_surface_with_workspace(g.values, g.rows, g.cols, weights,
                                                                          small_order, first, workspace);
    const GridData other = grid(in, 1024);
    const std::vector<double> other_weights = in.signal(other.values.size());
    std::vector<double> other_out(in.upto(other.values.size()));
    failed(two_d::polynomial::fit_weighted_surface_with_workspace(other.values, other.rows, other.cols, other_weights,
                                                                  in.upto(4), other_out, workspace));
    const auto b = two_d::polynomial::fit_weighted_surface_with_workspace(g.values, g.rows, g.cols, weights,
                                                                          small_order, again, workspace);
    require(failed(a) == failed(b), "a cached basis changed the outcome");
    if (!failed(a)) require(same_bits(first, again), "a cached basis changed the surface");
}

void grid_whittaker(ByteReader& in) {
    const GridData g = grid(in, 1024);
    const auto params = whittaker_params(in);
    const bool asls = in.flag();
    const double p = in.real();
    const auto fit = asls ? two_d::whittaker::asls(g.grid(), {params, p}) : two_d::whittaker::arpls(g.grid(), params);
    if (failed(fit)) return;
    const Fit& f = fit.value();
    require(f.baseline.size() == g.values.size(), "grid Whittaker fit has the wrong length");
    require(f.report.iterations >= 1 && f.report.iterations <= params.max_iter, "iteration count out of range");

    // A workspace left from another grid must give the bits of a fresh one.
    two_d::whittaker::Whittaker2DWorkspace workspace(in.upto(2048));
    std::fill(workspace.weights.begin(), workspace.weights.end(), in.real());
    const std::uint64_t cols = in.u8() % 8 == 0 ? in.upto(g.cols + 1) : g.cols;
    std::vector<double> out(g.rows * cols);
    const two_d::GridOut output{out, g.rows, cols};
    const auto again = asls ? two_d::whittaker::fit_with_policy(g.grid(), params, output, workspace,
                                                              two_d::whittaker::AslsWeights{p})
                            : two_d::whittaker::fit_with_policy(g.grid(), params, output, workspace,
                                                              two_d::whittaker::ArPlsWeights{});
    if (cols != g.cols) {
        require(failed(again), "grid Whittaker fit accepted another output shape");
        return;
    }
    require(!failed(again) && same_bits(out, f.baseline), "a reused grid workspace changed the fit");
}

// The system solve, its operator and the weight rules with arbitrary weights and surfaces.
void grid_whittaker_parts(ByteReader& in) {
    const GridData g = grid(in, 1024);
    if (g.rows < 3 || g.cols < 3) return;  // the penalty needs three points on each axis
    const auto params = whittaker_params(in);
    const std::size_t n = g.values.size();
    const std::vector<double> weights = in.signal(n), rhs = in.signal(n);
    std::vector<double> x = in.signal(n), residual(n), direction(n), product(n);
    linalg::banded::SymmetricBandedWorkspace banded;
    failed(two_d::whittaker::solve_weighted_system(g.rows, g.cols, params, weights, rhs, x, residual, direction,
                                                   product, banded, in.flag()));
    const double lambda_rows = in.real(), lambda_cols = in.real();
    two_d::whittaker::apply_system(g.rows, g.cols, lambda_rows, lambda_cols, weights, x, product);
    std::vector<double> new_weights = in.signal(n);
    if (in.flag()) two_d::whittaker::reweight(two_d::whittaker::AslsWeights{in.real()}, g.values, x, new_weights);
    else two_d::whittaker::reweight(two_d::whittaker::ArPlsWeights{}, g.values, x, new_weights);
}

// The multigrid-preconditioned solve with arbitrary weights and parameters: a success leaves a
// finite surface within the step cap, and a workspace planned for another grid and smoothing
// ratio in between changes no bit.
void grid_preconditioned(ByteReader& in) {
    const GridData g = grid(in, 1024);
    if (g.rows < 3 || g.cols < 3) return;
    const auto params = whittaker_params(in);
    const std::size_t n = g.values.size();
    const std::vector<double> weights = in.signal(n), start = in.signal(n);
    std::vector<double> x = start, again = start;
    two_d::whittaker::PreconditionedWorkspace workspace;
    const auto solved = two_d::whittaker::solve_preconditioned(g.rows, g.cols, params, weights, g.values, x, workspace);
    if (!failed(solved)) {
        require(workspace.steps <= params.cg_max_iter, "preconditioned solve exceeded its step cap");
        require(!first_non_finite(x), "preconditioned solve succeeded with a non-finite surface");
    }
    const GridData other = grid(in, 1024);
    if (other.rows >= 3 && other.cols >= 3) {
        auto other_params = whittaker_params(in);
        std::vector<double> other_x(other.values.size(), 0.0);
        failed(two_d::whittaker::solve_preconditioned(other.rows, other.cols, other_params,
                                                      std::vector<double>(other.values.size(), 1.0), other.values,
                                                      other_x, workspace));
    }
    const auto repeated = two_d::whittaker::solve_preconditioned(g.rows, g.cols, params, weights, g.values, again,
                                                                 workspace);
    require(failed(solved) == failed(repeated), "a reused preconditioned workspace changed the outcome");
    if (!failed(solved)) require(same_bits(x, again), "a reused preconditioned workspace changed the surface");
}

}  // namespace quorvel::fuzz
