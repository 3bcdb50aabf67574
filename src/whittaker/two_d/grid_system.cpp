#include "grid_system.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "any_order_product.hpp"
#include "axis_penalty.hpp"
#include "core/numeric.hpp"
#include "uneven_axes.hpp"
#include "uneven_product.hpp"

namespace quorvel::two_d::whittaker {
namespace {

Status solve_direct(const GridSystem& system, std::span<const double> rhs, std::span<double> x,
                    linalg::banded::SymmetricBandedWorkspace& banded) {
    fill_system_bands(system, banded);
    return banded.solve_spd(rhs, x);
}

// First differences that join every pair without a row factor run inside the stencil's pass (`fused`), the
// others in a pass of their own.
struct Stencil {
    AxisPenalty tr, tc;
    double lambda_r, lambda_c;
    double first_r = 0.0, first_c = 0.0;
    bool fused = false;

    explicit Stencil(const GridSystem& s) : tr{s.rows}, tc{s.cols}, lambda_r(s.lambda_r), lambda_c(s.lambda_c) {
        const FirstDifferences& f = s.first;
        fused = f.present() && f.keep.empty() && f.row_factor.empty() && !f.gained();
        if (fused) first_r = f.lambda_r, first_c = f.lambda_c;
    }
};

// The fused first differences at one point.
double first_at(const Stencil& a, std::uint64_t i, std::uint64_t j, const double* v) {
    const std::uint64_t cols = a.tc.m, k = i * cols + j;
    double fr = 0.0, fc = 0.0;
    if (i >= 1) fr = fr + (v[k] - v[k - cols]);
    if (i + 1 < a.tr.m) fr = fr + (v[k] - v[k + cols]);
    if (j >= 1) fc = fc + (v[k] - v[k - 1]);
    if (j + 1 < cols) fc = fc + (v[k] - v[k + 1]);
    return a.first_r * fr + a.first_c * fc;
}

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

// The same with fused first differences: away from the edges they only change the stencil's coefficients, which
// absorb both smoothing weights, so a point costs what it costs without them.
template <bool Up1, bool Down1, bool Up2, bool Down2>
void apply_row_fused(const Stencil& a, std::uint64_t i, const double* w, const double* v, double* out) {
    const std::uint64_t cols = a.tc.m, base = i * cols;
    const double lr = a.lambda_r, lc = a.lambda_c, fr = a.first_r, fc = a.first_c;
    const double centre = lr * a.tr.diag(i) + fr * ((Up1 ? 1.0 : 0.0) + (Down1 ? 1.0 : 0.0)) + (6.0 * lc + 2.0 * fc);
    const double up = Up1 ? lr * a.tr.off(i - 1) - fr : 0.0, down = Down1 ? lr * a.tr.off(i) - fr : 0.0;
    const double near = -4.0 * lc - fc;
    for (std::uint64_t j = 2; j + 2 < cols; ++j) {
        const std::uint64_t k = base + j;
        double sum = (w[k] + centre) * v[k];
        if constexpr (Up1) sum = sum + up * v[k - cols];
        if constexpr (Down1) sum = sum + down * v[k + cols];
        if constexpr (Up2) sum = sum + lr * v[k - 2 * cols];
        if constexpr (Down2) sum = sum + lr * v[k + 2 * cols];
        out[k] = (sum + near * (v[k - 1] + v[k + 1])) + lc * (v[k - 2] + v[k + 2]);
    }
    auto edge = [&](std::uint64_t j) { out[base + j] = apply_at(a, i, j, w, v) + first_at(a, i, j, v); };
    for (std::uint64_t j = 0; j < 2; ++j) edge(j);
    for (std::uint64_t j = std::max<std::uint64_t>(2, cols - 2); j < cols; ++j) edge(j);
}

using RowKernel = void (*)(const Stencil&, std::uint64_t, const double*, const double*, double*);

template <std::size_t... Bits>
constexpr std::array<RowKernel, 2 * sizeof...(Bits)> row_kernel_table(std::index_sequence<Bits...>) {
    return {apply_row<(Bits & 1) != 0, (Bits & 2) != 0, (Bits & 4) != 0, (Bits & 8) != 0>...,
            apply_row_fused<(Bits & 1) != 0, (Bits & 2) != 0, (Bits & 4) != 0, (Bits & 8) != 0>...};
}
constexpr auto row_kernels = row_kernel_table(std::make_index_sequence<16>{});

void apply_row(const Stencil& a, std::uint64_t i, const double* w, const double* v, double* out) {
    const std::uint64_t rows = a.tr.m;
    const std::size_t bits = (i >= 1 ? 1 : 0) | (i + 1 < rows ? 2 : 0) | (i >= 2 ? 4 : 0) | (i + 2 < rows ? 8 : 0) |
                             (a.fused ? 16 : 0);
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
        if (!system.second_order() || system.uneven || (system.first.present() && !stencil.fused)) {
            apply_system(system, direction, product);
            for (std::size_t k = 0; k < n; ++k) pap = pap + direction[k] * product[k];
        } else {
            for (std::uint64_t i = 0; i < rows; ++i) {
                apply_row(stencil, i, weights.data(), direction.data(), product.data());
                for (std::uint64_t k = i * cols; k < (i + 1) * cols; ++k) pap = pap + direction[k] * product[k];
            }
        }
        // Positive for every direction but zero, at any scale, as in the preconditioned solve: an absolute
        // threshold ended solves of small right-hand sides (weights of 0.01, first differences) short of cg_tol.
        if (is_non_finite(pap) || pap <= 0.0) {
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
    limits.stopped_short();
    return ok;
}

// The first-difference term's entries on and below the diagonal, added to the bands.
template <class Band>
void add_first_difference_bands(const FirstDifferences& first, std::uint64_t rows, std::uint64_t cols, Band band) {
    for (std::uint64_t i = 0; i < rows; ++i) {
        for (std::uint64_t j = 0; j < cols; ++j) {
            const std::uint64_t k = i * cols + j;
            band(0, k) = band(0, k) + first.diagonal(rows, cols, i, j);
            if (j + 1 < cols && first.joins(k, k + 1)) {
                band(1, k) = band(1, k) - first.lambda_c * FirstDifferences::gain(first.gain_c, j);
            }
            if (i + 1 < rows && first.joins(k, k + cols)) {
                band(cols, k) = band(cols, k) - first.lambda_r * FirstDifferences::gain(first.gain_r, i);
            }
        }
    }
}

// out += F v with the pairs' gains of uneven axes; their products come apart from the index's, so one loop serves
// every kind of term.
void add_gained_first_differences(const FirstDifferences& f, std::uint64_t rows, std::uint64_t cols,
                                  const double* v, double* out) {
    const auto pair = [&](std::uint64_t k, std::uint64_t l, double gain) {
        return f.joins(k, l) ? gain * (v[k] - v[l]) : 0.0;
    };
    for (std::uint64_t i = 0; i < rows; ++i) {
        for (std::uint64_t j = 0; j < cols; ++j) {
            const std::uint64_t k = i * cols + j;
            double sr = 0.0, sc = 0.0;
            if (i > 0) sr = sr + pair(k, k - cols, f.gain_r[i - 1]);
            if (i + 1 < rows) sr = sr + pair(k, k + cols, f.gain_r[i]);
            if (j > 0) sc = sc + pair(k, k - 1, f.gain_c[j - 1]);
            if (j + 1 < cols) sc = sc + pair(k, k + 1, f.gain_c[j]);
            const double term = f.lambda_r * sr + f.lambda_c * sc;
            out[k] = out[k] + (f.row_factor.empty() ? term : term * f.row_factor[k]);
        }
    }
}

// An axis's penalty element (t, t + s): an uneven axis's own, or the index's.
struct AxisEntries {
    AxisPenaltyOf even;
    const AxisSpacing* uneven;

    AxisEntries(std::uint64_t m, unsigned order, const AxisSpacing* spacing) : even{m, order}, uneven(spacing) {}
    double diag(std::uint64_t t) const { return uneven ? uneven->at(t, 0) : even.diag(t); }
    double at(std::uint64_t t, std::int64_t s) const { return uneven ? uneven->at(t, s) : even.at(t, s); }
    unsigned order() const { return even.order; }
};

AxisEntries row_entries(const GridSystem& s) { return {s.rows, s.order_r, s.uneven ? &s.uneven->rows : nullptr}; }
AxisEntries col_entries(const GridSystem& s) { return {s.cols, s.order_c, s.uneven ? &s.uneven->cols : nullptr}; }

// One row of out += F v. A missing neighbour stands in as the point itself, whose difference is 0.
template <bool Kept, bool Scaled>
void add_first_row(const FirstDifferences& f, std::uint64_t rows, std::uint64_t cols, std::uint64_t i,
                   const double* v, double* out) {
    const std::uint64_t base = i * cols, up = i > 0 ? base - cols : base, down = i + 1 < rows ? base + cols : base;
    const auto pair = [&](std::uint64_t k, std::uint64_t l) {
        const double d = v[k] - v[l];
        if constexpr (Kept) return f.keep[k] != 0.0 && f.keep[l] != 0.0 ? d : 0.0;
        return d;
    };
    for (std::uint64_t j = 0; j < cols; ++j) {
        const std::uint64_t k = base + j, left = j > 0 ? k - 1 : k, right = j + 1 < cols ? k + 1 : k;
        const double sr = pair(k, up + j) + pair(k, down + j), sc = pair(k, left) + pair(k, right);
        double term = f.lambda_r * sr + f.lambda_c * sc;
        if constexpr (Scaled) term = term * f.row_factor[k];
        out[k] = out[k] + term;
    }
}

template <bool Kept, bool Scaled>
void add_first_rows(const FirstDifferences& f, std::uint64_t rows, std::uint64_t cols, const double* v, double* out) {
    for (std::uint64_t i = 0; i < rows; ++i) add_first_row<Kept, Scaled>(f, rows, cols, i, v, out);
}

}  // namespace

double FirstDifferences::diagonal(std::uint64_t rows, std::uint64_t cols, std::uint64_t i, std::uint64_t j) const {
    const std::uint64_t k = i * cols + j;
    const auto joined = [&](bool exists, std::uint64_t l, std::span<const double> gains, std::uint64_t pair) {
        return exists && joins(k, l) ? gain(gains, pair) : 0.0;
    };
    return lambda_r * (joined(i > 0, k - cols, gain_r, i - 1) + joined(i + 1 < rows, k + cols, gain_r, i)) +
           lambda_c * (joined(j > 0, k - 1, gain_c, j - 1) + joined(j + 1 < cols, k + 1, gain_c, j));
}

void add_first_differences(const FirstDifferences& first, std::uint64_t rows, std::uint64_t cols,
                           std::span<const double> v, std::span<double> out) {
    if (!first.present()) return;
    if (first.gained()) return add_gained_first_differences(first, rows, cols, v.data(), out.data());
    const bool kept = !first.keep.empty(), scaled = !first.row_factor.empty();
    if (kept && scaled) return add_first_rows<true, true>(first, rows, cols, v.data(), out.data());
    if (kept) return add_first_rows<true, false>(first, rows, cols, v.data(), out.data());
    if (scaled) return add_first_rows<false, true>(first, rows, cols, v.data(), out.data());
    add_first_rows<false, false>(first, rows, cols, v.data(), out.data());
}

void fill_system_bands(const GridSystem& system, linalg::banded::SymmetricBandedWorkspace& banded,
                       std::uint64_t least_bandwidth) {
    const std::uint64_t rows = system.rows, cols = system.cols, n = rows * cols;
    const double lambda_r = system.lambda_r, lambda_c = system.lambda_c;
    const AxisEntries tr = row_entries(system), tc = col_entries(system);
    banded.reset(n, std::max(system.bandwidth(), least_bandwidth));
    auto band = [&](std::uint64_t d, std::uint64_t k) -> double& { return banded.bands[d * n + k]; };
    for (std::uint64_t i = 0; i < rows; ++i) {
        for (std::uint64_t j = 0; j < cols; ++j) {
            const std::uint64_t k = i * cols + j;
            band(0, k) = lambda_c * tc.diag(j) + (lambda_r * tr.diag(i) + system.weights[k]);
            for (std::uint64_t s = 1; s <= system.order_c && j + s < cols; ++s) {
                band(s, k) = lambda_c * tc.at(j, static_cast<std::int64_t>(s));
            }
            for (std::uint64_t s = 1; s <= system.order_r && i + s < rows; ++s) {
                band(s * cols, k) = lambda_r * tr.at(i, static_cast<std::int64_t>(s));
            }
        }
    }
    if (system.first.present()) add_first_difference_bands(system.first, rows, cols, band);
}

void fill_general_bands(const GridSystem& system, linalg::banded::GeneralBandedWorkspace& lu) {
    const std::uint64_t rows = system.rows, cols = system.cols;
    const FirstDifferences& first = system.first;
    const AxisEntries tr = row_entries(system), tc = col_entries(system);
    lu.reset(rows * cols, system.bandwidth(), system.bandwidth());
    const auto factor = [&](std::uint64_t k) { return first.row_factor.empty() ? 1.0 : first.row_factor[k]; };
    // The pairs (k, k + s step) of an axis: their penalty entries, and the nearest pair's first difference where
    // joined.
    const auto pairs = [&](std::uint64_t k, std::uint64_t t, std::uint64_t m, std::uint64_t step,
                           const AxisEntries& penalty, double lambda, double first_lambda,
                           std::span<const double> gains) {
        for (std::uint64_t s = 1; s <= penalty.order() && t + s < m; ++s) {
            lu.at(k, k + s * step) = lu.at(k + s * step, k) = lambda * penalty.at(t, static_cast<std::int64_t>(s));
        }
        if (t + 1 < m && first_lambda != 0.0 && first.joins(k, k + step)) {
            const double pair = first_lambda * FirstDifferences::gain(gains, t);
            lu.at(k, k + step) = lu.at(k, k + step) - factor(k) * pair;
            lu.at(k + step, k) = lu.at(k + step, k) - factor(k + step) * pair;
        }
    };
    for (std::uint64_t i = 0; i < rows; ++i) {
        for (std::uint64_t j = 0; j < cols; ++j) {
            const std::uint64_t k = i * cols + j;
            lu.at(k, k) = system.weights[k] + system.lambda_r * tr.diag(i) + system.lambda_c * tc.diag(j) +
                          factor(k) * first.diagonal(rows, cols, i, j);
            pairs(k, j, cols, 1, tc, system.lambda_c, first.lambda_c, first.gain_c);
            pairs(k, i, rows, cols, tr, system.lambda_r, first.lambda_r, first.gain_r);
        }
    }
}

FirstDifferences GridSystem::with_gains(FirstDifferences given) const {
    if (uneven) given.gain_r = uneven->rows.gains, given.gain_c = uneven->cols.gains;
    return given;
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
    if (system.uneven) {
        apply_uneven(system, v, out);
        add_first_differences(system.first, system.rows, system.cols, v, out);
        return;
    }
    if (!system.second_order()) {
        apply_any_order(system, v, out);
        if (folds_first_differences(system.first)) return;
        add_first_differences(system.first, system.rows, system.cols, v, out);
        return;
    }
    const Stencil stencil(system);
    for (std::uint64_t i = 0; i < system.rows; ++i) {
        apply_row(stencil, i, system.weights.data(), v.data(), out.data());
    }
    if (!stencil.fused) add_first_differences(system.first, system.rows, system.cols, v, out);
}

Status solve_weighted_system(const GridSystem& system, CgLimits limits, std::span<const double> rhs,
                             std::span<double> x, std::span<double> residual, std::span<double> direction,
                             std::span<double> product, linalg::banded::SymmetricBandedWorkspace& banded,
                             bool allow_direct) {
    if (allow_direct && solved_directly(system)) {
        return solve_direct(system, rhs, x, banded);
    }
    return solve_conjugate_gradients(system, limits, rhs, x, residual, direction, product);
}

}  // namespace quorvel::two_d::whittaker
