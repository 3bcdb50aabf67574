// The solvers with arbitrary systems, lambdas, mismatched lengths and reused workspaces.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "checks.hpp"
#include "linalg/banded.hpp"
#include "linalg/dense.hpp"
#include "linalg/pentadiagonal.hpp"
#include "targets.hpp"

namespace quorvel::fuzz {
namespace {

void solve_once(ByteReader& in, linalg::pentadiagonal::PentadiagonalWorkspace& workspace) {
    const std::size_t n = in.length(4096);
    const std::vector<double> y = in.signal(n);
    const std::vector<double> weights = in.signal(in.around(n));
    std::vector<double> baseline(in.around(n), 0.0);
    const double lambda = in.real();
    const auto solved = linalg::pentadiagonal::solve_second_order(y, weights, baseline, workspace, lambda);
    if (failed(solved)) return;
    require(weights.size() == n && baseline.size() == n && n > 0, "a solve accepted mismatched lengths");
    require(n < 3 || is_finite_positive(lambda), "a solve accepted an invalid lambda");
}

}  // namespace

void pentadiagonal_solve(ByteReader& in) {
    // Workspaces grow and shrink between solves; a stale size must never leak through.
    linalg::pentadiagonal::PentadiagonalWorkspace workspace(in.upto(64));
    const std::size_t solves = 1 + in.u8() % 3;
    for (std::size_t k = 0; k < solves; ++k) solve_once(in, workspace);
}

void pentadiagonal_factor(ByteReader& in) {
    const std::size_t n = 1 + in.length(4095);
    linalg::pentadiagonal::PentadiagonalWorkspace workspace(n);
    if (n >= 3 && in.flag()) {
        const std::vector<double> weights = in.signal(n);
        linalg::pentadiagonal::fill_second_order_bands(weights, workspace.diag, workspace.off1, workspace.off2,
                                                       in.real());
    } else {
        workspace.diag = in.signal(n);
        workspace.off1 = in.signal(n - 1);
        workspace.off2 = in.signal(n >= 2 ? n - 2 : 0);
    }
    workspace.rhs = in.signal(n);
    std::vector<double> baseline(n, 0.0);
    failed(linalg::pentadiagonal::factor_and_solve(baseline, workspace));
}

void banded_solve(ByteReader& in) {
    linalg::banded::SymmetricBandedWorkspace workspace;
    const std::size_t solves = 1 + in.u8() % 2;
    for (std::size_t k = 0; k < solves; ++k) {
        const std::size_t n = in.length(512), bandwidth = in.upto(72);
        workspace.reset(n, bandwidth);
        const std::vector<double> bands = in.signal(n * (bandwidth + 1));
        std::copy(bands.begin(), bands.end(), workspace.bands.begin());
        if (in.flag()) {
            // A diagonal that dominates its rows makes the matrix positive definite.
            double largest = 0.0;
            for (const double v : workspace.bands) largest = std::fmax(largest, std::fabs(v));
            const double floor = 2.0 * static_cast<double>(bandwidth) * largest + 1.0;
            for (std::size_t i = 0; i < n; ++i) workspace.bands[i] = std::fabs(workspace.bands[i]) + floor;
        }
        if (in.u8() % 8 == 0) workspace.bands.resize(in.upto(workspace.bands.size() + 2));
        const std::vector<double> rhs = in.signal(in.around(n));
        std::vector<double> output(in.around(n), 0.0);
        const std::size_t repeats = 1 + in.u8() % 2;  // a second solve runs on the factor itself
        for (std::size_t r = 0; r < repeats; ++r) {
            if (failed(workspace.solve_spd(rhs, output))) break;
            require(rhs.size() == n && output.size() == n, "a banded solve accepted mismatched lengths");
        }
    }
}

void dense_solve(ByteReader& in) {
    const std::size_t n = in.upto(24);
    std::vector<double> matrix = in.signal(n * n + in.upto(2));
    std::vector<double> rhs = in.signal(n);
    std::vector<double> solution(n + in.upto(2), 0.0), pivot_row(n + in.upto(2), 0.0);
    failed(linalg::dense::solve_dense_in_place(matrix, rhs, solution, pivot_row));
}

}  // namespace quorvel::fuzz
