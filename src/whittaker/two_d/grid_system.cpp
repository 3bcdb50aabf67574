#include "grid_system.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "axis_penalty.hpp"
#include "core/numeric.hpp"

namespace quorvel::two_d::whittaker {
namespace {

Status solve_direct(const GridSystem& system, std::span<const double> rhs, std::span<double> x,
                    linalg::banded::SymmetricBandedWorkspace& banded) {
    fill_system_bands(system, banded);
    return banded.solve_spd(rhs, x);
}

struct Stencil {
    AxisPenalty tr, tc;
    double lambda_r, lambda_c;

    explicit Stencil(const GridSystem& s) : tr{s.rows}, tc{s.cols}, lambda_r(s.lambda_r), lambda_c(s.lambda_c) {}
};

// The product A v at one point, with the products accumulated in a fixed order.
double apply_at(const Stencil& a, std::uint64_t i, std::uint64_t j, const double* w, const double* v) {
    const AxisPenalty &tr = a.tr, &tc = a.tc;
    const std::uint64_t cols = tc.m, k = i * cols + j;
    double sr = tr.diag(i) * v[k];
    if (i >= 1) sr = sr + tr.off(i - 1) * v[k - cols];
    if (i + 1 < tr.m) sr = sr + tr.off(i) * v[k + cols];
    if (i >= 2) sr = sr + v[k - 2 * cols];
    if (i + 2 < tr.m) sr = sr + v[k + 2 * cols];
    double sc = tc.diag(j) * v[k];
    if (j >= 1) sc = sc + tc.off(j - 1) * v[k - 1];
    if (j + 1 < cols) sc = sc + tc.off(j) * v[k + 1];
    if (j >= 2) sc = sc + v[k - 2];
    if (j + 2 < cols) sc = sc + v[k + 2];
    return (w[k] * v[k] + a.lambda_r * sr) + a.lambda_c * sc;
}

// One row of A v. Away from the left and right edges the column penalty row is
// (1, -4, 6, -4, 1), and the row terms present are fixed for the whole row, so those points
// run without branches, several per vector register; every point adds its terms in the
// same order as apply_at.
template <bool Up1, bool Down1, bool Up2, bool Down2>
void apply_row(const Stencil& a, std::uint64_t i, const double* w, const double* v, double* out) {
    const std::uint64_t cols = a.tc.m, base = i * cols;
    const double centre = a.tr.diag(i);
    const double up = Up1 ? a.tr.off(i - 1) : 0.0, down = Down1 ? a.tr.off(i) : 0.0;
    for (std::uint64_t j = 2; j + 2 < cols; ++j) {
        const std::uint64_t k = base + j;
        double sr = centre * v[k];
        if constexpr (Up1) sr = sr + up * v[k - cols];
        if constexpr (Down1) sr = sr + down * v[k + cols];
        if constexpr (Up2) sr = sr + v[k - 2 * cols];
        if constexpr (Down2) sr = sr + v[k + 2 * cols];
        const double sc = (((6.0 * v[k] + -4.0 * v[k - 1]) + -4.0 * v[k + 1]) + v[k - 2]) + v[k + 2];
        out[k] = (w[k] * v[k] + a.lambda_r * sr) + a.lambda_c * sc;
    }
    auto edge = [&](std::uint64_t j) { out[base + j] = apply_at(a, i, j, w, v); };
    for (std::uint64_t j = 0; j < 2; ++j) edge(j);
    for (std::uint64_t j = std::max<std::uint64_t>(2, cols - 2); j < cols; ++j) edge(j);
}

using RowKernel = void (*)(const Stencil&, std::uint64_t, const double*, const double*, double*);

template <std::size_t... Bits>
constexpr std::array<RowKernel, sizeof...(Bits)> row_kernel_table(std::index_sequence<Bits...>) {
    return {apply_row<(Bits & 1) != 0, (Bits & 2) != 0, (Bits & 4) != 0, (Bits & 8) != 0>...};
}
constexpr auto row_kernels = row_kernel_table(std::make_index_sequence<16>{});

void apply_row(const Stencil& a, std::uint64_t i, const double* w, const double* v, double* out) {
    const std::uint64_t rows = a.tr.m;
    const std::size_t bits = (i >= 1 ? 1 : 0) | (i + 1 < rows ? 2 : 0) | (i >= 2 ? 4 : 0) | (i + 2 < rows ? 8 : 0);
    row_kernels[bits](a, i, w, v, out);
}

Status solve_conjugate_gradients(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                                 std::span<double> x, std::span<double> residual, std::span<double> direction,
                                 std::span<double> product) {
    const std::size_t n = rhs.size();
    const std::uint64_t rows = system.rows, cols = system.cols;
    const std::span<const double> weights = system.weights;
    auto [bnorm, rr] = starting_residual(system, rhs, x, residual, product, limits.row_scale);
    std::copy(residual.begin(), residual.end(), direction.begin());
    if (std::sqrt(rr) / bnorm <= limits.tol) return ok;

    const Stencil stencil(system);
    for (std::uint64_t iteration = 0; iteration < limits.max_iter; ++iteration) {
        // Row by row, the product and then its share of the dot product, still summed in
        // index order.
        double pap = 0.0;
        for (std::uint64_t i = 0; i < rows; ++i) {
            apply_row(stencil, i, weights.data(), direction.data(), product.data());
            for (std::uint64_t k = i * cols; k < (i + 1) * cols; ++k) pap = pap + direction[k] * product[k];
        }
        if (is_non_finite(pap) || std::fabs(pap) <= epsilon) {
            return LinearSolveFailed{"2D Whittaker conjugate-gradient denominator vanished"};
        }
        const double alpha = rr / pap;
        double rr_new = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = x[k] + alpha * direction[k];
            residual[k] = residual[k] - alpha * product[k];
            rr_new = rr_new + square_in(limits.row_scale, k, residual[k]);
        }
        if (std::sqrt(rr_new) / bnorm <= limits.tol) return ok;
        const double beta = rr_new / std::fmax(rr, std::numeric_limits<double>::min());
        for (std::size_t k = 0; k < n; ++k) direction[k] = residual[k] + beta * direction[k];
        rr = rr_new;
    }
    return ok;
}

}  // namespace

void fill_system_bands(const GridSystem& system, linalg::banded::SymmetricBandedWorkspace& banded) {
    const auto [rows, cols, lambda_r, lambda_c, weights] = system;
    const std::uint64_t n = rows * cols;
    const AxisPenalty tr{rows}, tc{cols};
    banded.reset(n, 2 * cols);
    auto band = [&](std::uint64_t d, std::uint64_t k) -> double& { return banded.bands[d * n + k]; };
    for (std::uint64_t i = 0; i < rows; ++i) {
        for (std::uint64_t j = 0; j < cols; ++j) {
            const std::uint64_t k = i * cols + j;
            band(0, k) = lambda_c * tc.diag(j) + (lambda_r * tr.diag(i) + weights[k]);
            if (j + 1 < cols) band(1, k) = lambda_c * tc.off(j);
            if (j + 2 < cols) band(2, k) = lambda_c;
            if (i + 1 < rows) band(cols, k) = lambda_r * tr.off(i);
            if (i + 2 < rows) band(2 * cols, k) = lambda_r;
        }
    }
}

StartingResidual starting_residual(const GridSystem& system, std::span<const double> rhs, std::span<const double> x,
                                   std::span<double> residual, std::span<double> product,
                                   std::span<const double> row_scale) {
    apply_system(system, x, product);
    double bb = 0.0, rr = 0.0;
    for (std::size_t k = 0; k < rhs.size(); ++k) {
        residual[k] = rhs[k] - product[k];
        bb = bb + square_in(row_scale, k, rhs[k]);
        rr = rr + square_in(row_scale, k, residual[k]);
    }
    return {std::fmax(std::sqrt(bb), 1.0), rr};
}

void apply_system(const GridSystem& system, std::span<const double> v, std::span<double> out) {
    const Stencil stencil(system);
    for (std::uint64_t i = 0; i < system.rows; ++i) {
        apply_row(stencil, i, system.weights.data(), v.data(), out.data());
    }
}

Status solve_weighted_system(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                             std::span<double> x, std::span<double> residual, std::span<double> direction,
                             std::span<double> product, linalg::banded::SymmetricBandedWorkspace& banded,
                             bool allow_direct) {
    if (allow_direct && system.rows * system.cols <= 512 && 2 * system.cols <= 64) {
        return solve_direct(system, rhs, x, banded);
    }
    return solve_conjugate_gradients(system, limits, rhs, x, residual, direction, product);
}

}  // namespace quorvel::two_d::whittaker
