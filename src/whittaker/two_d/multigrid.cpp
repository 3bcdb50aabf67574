#include "multigrid.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "axis_penalty.hpp"

namespace quorvel::two_d::whittaker {
namespace {

constexpr std::uint64_t chebyshev_degree = 3;

// The share of the interval the smoother damps. Galerkin couplings put their absolute row sums in the diagonal,
// which shrinks the weights' share of the spectrum below 1: the interval reaches further down.
double chebyshev_ratio(Coarsening kind) {
    switch (kind) {
        case Coarsening::averaged: return 10.0;
        case Coarsening::galerkin: return 20.0;
    }
    return 10.0;
}
// Point smoothing only damps errors that are rough along an axis smoothed at least about as
// strongly as the other, so an axis whose strength on its roughest error (lambda 4^order) is below
// 1/4 of the other's is not halved.
constexpr double anisotropy_limit = 4.0;

struct Halving {
    bool rows, cols;
};

// With both axes long, one of them is always halved; the hierarchy ends on a grid that has
// an axis too short to halve, so its banded solve has a bandwidth of at most 6 order.
Halving halving(const GridSystem& s) {
    const int shift = 2 * (static_cast<int>(s.order_r) - static_cast<int>(s.order_c));
    const double strength_r = std::ldexp(s.lambda_r, shift);
    return {s.rows >= min_coarsened_axis && strength_r * anisotropy_limit >= s.lambda_c,
            s.cols >= min_coarsened_axis && s.lambda_c * anisotropy_limit >= strength_r};
}

// Galerkin coarse grids lose accuracy level by level (a linear interpolation under penalties of higher order), so
// their hierarchy ends early, on a grid whose banded factor costs less than the steps its exact solve saves: at
// most 4096 points and a 64th of the finest grid's (256 x 256: 16 steps a solve with seven levels, 12 with four).
Halving planned_halving(const GridSystem& s, std::uint64_t finest, Coarsening kind, Smoother smoother) {
    const std::uint64_t points = s.rows * s.cols;
    if (kind == Coarsening::galerkin && points <= std::min<std::uint64_t>(4096, finest / 64)) return {false, false};
    switch (smoother) {
        case Smoother::points: return halving(s);
        // Line smoothing damps the errors rough along either axis, however the axes compare.
        case Smoother::lines: return {s.rows >= min_coarsened_axis, s.cols >= min_coarsened_axis};
    }
    return halving(s);
}

Smoother smoother_for(const GridSystem& s, Coarsening kind) {
    return s.uneven && kind == Coarsening::averaged ? Smoother::lines : Smoother::points;
}

// A halved axis's smoothing weight shrinks by 2^(2 order), as the squares of its differences scale.
double coarse_lambda(double lambda, bool halved, unsigned order) {
    return halved ? std::ldexp(lambda, -2 * static_cast<int>(order)) : lambda;
}
// First differences scale as h^-2.
double coarse_first(double lambda, bool halved) { return halved ? lambda * 0.25 : lambda; }

// The shape and smoothing weights of the next coarser grid; no weights yet.
GridSystem coarser(const GridSystem& s, Halving h, const GridTransfer& down) {
    return {down.rows.coarse, down.cols.coarse, coarse_lambda(s.lambda_r, h.rows, s.order_r),
            coarse_lambda(s.lambda_c, h.cols, s.order_c), {}, {}, s.order_r, s.order_c};
}

// Above the spectrum of D^-1 A (D the diagonal of A): A is a sum of the weights, whose share is 1, the first
// differences, whose share stays below 2, and the axes' penalties, so the largest of their bounds bounds it.
double spectrum_bound(const MultigridLevel& level) {
    if (level.uneven.active) return std::max(level.uneven.rows.bound, level.uneven.cols.bound);
    return std::max(axis_spectrum_bound(level.rows, level.order_r), axis_spectrum_bound(level.cols, level.order_c));
}

void apply_level(const MultigridLevel& level, std::span<const double> v, std::span<double> out) {
    apply_system(level.system(), v, out);
    if (!level.couplings.empty()) add_off_centre(level.rows, level.cols, level.couplings, level.coupled, v, out);
}

// Chebyshev iteration on D^-1 A over [bound / ratio, bound]: a fixed polynomial, so the
// same smoother before and after the coarse correction keeps the V-cycle symmetric. Each step
// is one product and one pass that updates residual, direction and iterate together.
void smooth(MultigridLevel& level, double ratio, std::span<const double> b, std::span<double> x, bool zero_start) {
    const std::size_t n = level.rows * level.cols;
    double* r = level.residual.data();
    double* d = level.direction.data();
    const double* q = level.product.data();
    const double* inv = level.inverse_diagonal.data();
    const double hi = spectrum_bound(level), lo = hi / ratio;
    const double theta = (hi + lo) * 0.5, delta = (hi - lo) * 0.5, sigma = theta / delta;
    double rho = 1.0 / sigma;

    if (zero_start) {
        for (std::size_t k = 0; k < n; ++k) {
            r[k] = b[k];
            d[k] = inv[k] * b[k] / theta;
            x[k] = d[k];
        }
    } else {
        apply_level(level, x, level.product);
        for (std::size_t k = 0; k < n; ++k) {
            r[k] = b[k] - q[k];
            d[k] = inv[k] * r[k] / theta;
            x[k] = x[k] + d[k];
        }
    }
    for (std::uint64_t step = 1; step < chebyshev_degree; ++step) {
        apply_level(level, level.direction, level.product);
        const double rho_next = 1.0 / (2.0 * sigma - rho);
        const double keep = rho_next * rho, gain = 2.0 * rho_next / delta;
        for (std::size_t k = 0; k < n; ++k) {
            r[k] = r[k] - q[k];
            d[k] = keep * d[k] + gain * (inv[k] * r[k]);
            x[k] = x[k] + d[k];
        }
        rho = rho_next;
    }
}

// The coarsest grid goes to the banded solver along its shorter axis, for the narrower band.
bool transposed(const MultigridLevel& level) { return level.rows < level.cols; }

void transpose(std::uint64_t rows, std::uint64_t cols, const double* in, double* out, double scale) {
    for (std::uint64_t i = 0; i < rows; ++i) {
        for (std::uint64_t j = 0; j < cols; ++j) out[j * rows + i] = in[i * cols + j] * scale;
    }
}

void solve_coarsest(Multigrid& mg, MultigridLevel& level, std::span<const double> b, std::span<double> x) {
    const std::size_t n = level.rows * level.cols;
    if (!transposed(level)) {
        for (std::size_t k = 0; k < n; ++k) level.scratch[k] = b[k] * mg.coarsest_scale;
        mg.banded.substitute(std::span<const double>(level.scratch).first(n), x);
        return;
    }
    transpose(level.rows, level.cols, b.data(), level.scratch.data(), mg.coarsest_scale);
    mg.banded.substitute(std::span<const double>(level.scratch).first(n), level.residual);
    transpose(level.cols, level.rows, level.residual.data(), x.data(), 1.0);
}

void cycle(Multigrid& mg, std::size_t index, std::span<const double> b, std::span<double> x) {
    MultigridLevel& level = mg.levels[index];
    if (index + 1 == mg.levels.size()) return solve_coarsest(mg, level, b, x);
    MultigridLevel& next = mg.levels[index + 1];
    const std::size_t n = level.rows * level.cols;

    const double ratio = chebyshev_ratio(mg.coarsening);
    const bool lines = mg.smoother == Smoother::lines;
    if (lines) {
        level.lines.pre_smooth(b, x);
    } else {
        smooth(level, ratio, b, x, true);
    }
    apply_level(level, x, level.product);
    for (std::size_t k = 0; k < n; ++k) level.residual[k] = b[k] - level.product[k];
    restrict_residual(level.down, level.residual, next.b, level.scratch);
    cycle(mg, index + 1, next.b, next.x);
    interpolate_add(level.down, next.x, x, level.scratch);
    if (lines) return level.lines.post_smooth(b, x);
    smooth(level, ratio, b, x, false);
}

// The diagonal of the level's system: its inverse for smoothing; returns its largest element.
double invert_diagonal(MultigridLevel& level) {
    const AxisPenaltyOf tr{level.rows, level.order_r}, tc{level.cols, level.order_c};
    const UnevenGrid* uneven = level.uneven.active ? &level.uneven : nullptr;
    const auto diag_r = [&](std::uint64_t i) { return uneven ? uneven->rows.at(i, 0) : tr.diag(i); };
    const auto diag_c = [&](std::uint64_t j) { return uneven ? uneven->cols.at(j, 0) : tc.diag(j); };
    double largest = 0.0;
    for (std::uint64_t i = 0; i < level.rows; ++i) {
        for (std::uint64_t j = 0; j < level.cols; ++j) {
            const std::uint64_t k = i * level.cols + j;
            const double weight = level.couplings.empty() ? level.weights[k] : absolute_row_sum(level.couplings, level.weights.size(), k);
            double diagonal = weight + level.lambda_r * diag_r(i) + level.lambda_c * diag_c(j);
            if (level.first.present()) diagonal = diagonal + level.first.diagonal(level.rows, level.cols, i, j);
            level.inverse_diagonal[k] = 1.0 / diagonal;
            largest = std::max(largest, diagonal);
        }
    }
    return largest;
}

// Factors the coarsest system, scaled to a largest diagonal of 1 so that the factorisation's
// absolute pivot test acts as a relative one.
Status factor_coarsest(Multigrid& mg, MultigridLevel& level, double largest_diagonal) {
    const double scale = 1.0 / largest_diagonal;
    mg.coarsest_scale = scale;
    std::span<double> w(level.scratch.data(), level.rows * level.cols);
    FirstDifferences first{level.first.lambda_r * scale, level.first.lambda_c * scale, level.first.keep, {},
                           level.first.gain_r, level.first.gain_c};
    const UnevenGrid* uneven = level.uneven.active ? &level.uneven : nullptr;
    if (transposed(level)) {
        transpose(level.rows, level.cols, level.weights.data(), w.data(), scale);
        if (!first.keep.empty()) {  // the residual is free until the first cycle
            transpose(level.rows, level.cols, first.keep.data(), level.residual.data(), 1.0);
            first.keep = level.residual;
        }
        std::swap(first.lambda_r, first.lambda_c);
        std::swap(first.gain_r, first.gain_c);
        if (uneven) {
            mg.transposed.rows = level.uneven.cols, mg.transposed.cols = level.uneven.rows;
            mg.transposed.active = true;
            uneven = &mg.transposed;
        }
        fill_system_bands({level.cols, level.rows, level.lambda_c * scale, level.lambda_r * scale, w, first,
                           level.order_c, level.order_r, uneven},
                          mg.banded, mg.banded.bandwidth);
    } else {
        for (std::size_t k = 0; k < w.size(); ++k) w[k] = level.weights[k] * scale;
        fill_system_bands({level.rows, level.cols, level.lambda_r * scale, level.lambda_c * scale, w, first,
                           level.order_r, level.order_c, uneven},
                          mg.banded, mg.banded.bandwidth);
    }
    if (!level.couplings.empty()) {
        add_coupling_bands(level.rows, level.cols, level.couplings, scale, transposed(level), mg.banded);
    }
    if (mg.banded.factor()) return ok;
    return LinearSolveFailed{"2D Whittaker multigrid coarsest system was not positive definite"};
}

// Lines go with taps on an uneven axis's positions; an even axis keeps the index's.
void place_transfer(AxisTransfer& transfer, const AxisSpacing& fine) {
    if (transfer.identity()) return;
    if (fine.t.empty()) return transfer.build(transfer.fine, true);
    transfer.place(fine.t);
}

// Under Galerkin coarsening the middle couplings also serve as the weights of the level's own system.
void restrict_level_weights(MultigridLevel& finer, MultigridLevel& level) {
    if (level.couplings.empty()) return restrict_weights(finer.down, finer.weights, level.weights, finer.scratch);
    if (finer.couplings.empty()) {
        galerkin_from_weights(finer.down, finer.weights, level.couplings);
    } else {
        galerkin_from_couplings(finer.down, finer.couplings, level.couplings);
    }
    const std::size_t n = level.weights.size();
    std::copy_n(level.couplings.begin() + static_cast<std::ptrdiff_t>(coupling_centre * n), n, level.weights.begin());
    level.coupled = coupled_slots(level.couplings, n);
}

}  // namespace

bool Multigrid::planned_for(const GridSystem& system, Coarsening kind) const {
    const Smoother wanted = smoother_for(system, kind);
    if (kind != coarsening || wanted != smoother) return false;
    GridSystem s = system;
    for (const MultigridLevel& level : levels) {
        if (level.rows != s.rows || level.cols != s.cols) return false;
        const Halving h = planned_halving(s, system.rows * system.cols, kind, wanted);
        if (h.rows == level.down.rows.identity() || h.cols == level.down.cols.identity()) return false;
        if (!h.rows && !h.cols) return true;
        if (wanted == Smoother::lines && (level.lines.rows.reach != s.order_r || level.lines.rows.band != s.order_c)) {
            return false;
        }
        s = coarser(s, h, level.down);
    }
    return false;
}

void Multigrid::resize(const GridSystem& system, Coarsening kind) {
    if (planned_for(system, kind)) return;
    coarsening = kind;
    smoother = smoother_for(system, kind);
    const bool galerkin = kind == Coarsening::galerkin;
    GridSystem s = system;
    std::size_t count = 0;
    for (;; ++count) {
        if (count == levels.size()) levels.emplace_back();
        MultigridLevel& level = levels[count];
        const Halving h = planned_halving(s, system.rows * system.cols, kind, smoother);
        level.rows = s.rows;
        level.cols = s.cols;
        level.down.build(s.rows, s.cols, h.rows, h.cols, galerkin ? Interpolation::linear : Interpolation::cubic);
        const std::size_t n = s.rows * s.cols;
        for (auto* buffer : {&level.weights, &level.inverse_diagonal, &level.residual, &level.direction,
                             &level.product}) {
            buffer->resize(n, 0.0);
        }
        // The finest grid works in the caller's vectors.
        for (auto* buffer : {&level.x, &level.b}) buffer->resize(count == 0 ? 0 : n, 0.0);
        level.couplings.resize(galerkin && count > 0 ? n * coupling_count : 0, 0.0);
        const bool coarsest = !h.rows && !h.cols;
        level.scratch.resize(coarsest ? n : level.down.rows.coarse * s.cols, 0.0);
        if (!coarsest && smoother == Smoother::lines) level.lines.resize(s.rows, s.cols, s.order_r, s.order_c);
        if (coarsest) break;
        s = coarser(s, h, level.down);
    }
    levels.resize(count + 1);
    const MultigridLevel& last = levels.back();
    const bool along_cols = last.rows < last.cols;  // as transposed() decides
    const std::uint64_t across = along_cols ? last.rows : last.cols;
    const std::uint64_t order = along_cols ? system.order_c : system.order_r;
    const auto reach = static_cast<std::uint64_t>(coupling_reach);
    banded.reset(last.rows * last.cols, std::max(order * across, galerkin && levels.size() > 1 ? reach * (across + 1) : 0));
}

Status Multigrid::setup(const GridSystem& system) {
    std::copy(system.weights.begin(), system.weights.end(), levels[0].weights.begin());
    levels[0].lambda_r = system.lambda_r;
    levels[0].lambda_c = system.lambda_c;
    for (MultigridLevel& level : levels) {
        level.order_r = system.order_r, level.order_c = system.order_c;
        level.uneven.active = system.uneven != nullptr;
    }
    if (system.uneven) levels[0].uneven.rows = system.uneven->rows, levels[0].uneven.cols = system.uneven->cols;
    levels[0].first = levels[0].system().with_gains({system.first.lambda_r, system.first.lambda_c, system.first.keep});
    for (std::size_t index = 1; index < levels.size(); ++index) {
        MultigridLevel& finer = levels[index - 1];
        MultigridLevel& level = levels[index];
        const bool rows = !finer.down.rows.identity(), cols = !finer.down.cols.identity();
        if (smoother == Smoother::lines) {
            place_transfer(finer.down.rows, finer.uneven.rows);
            place_transfer(finer.down.cols, finer.uneven.cols);
        }
        level.lambda_r = coarse_lambda(finer.lambda_r, rows, level.order_r);
        level.lambda_c = coarse_lambda(finer.lambda_c, cols, level.order_c);
        if (level.uneven.active) {
            assign_coarser(level.uneven.rows, finer.uneven.rows, finer.down.rows);
            assign_coarser(level.uneven.cols, finer.uneven.cols, finer.down.cols);
        }
        level.first = level.system().with_gains(
            {coarse_first(finer.first.lambda_r, rows), coarse_first(finer.first.lambda_c, cols)});
        restrict_level_weights(finer, level);
    }
    double largest = 0.0;
    for (MultigridLevel& level : levels) largest = invert_diagonal(level);
    for (std::size_t index = 0; smoother == Smoother::lines && index + 1 < levels.size(); ++index) {
        if (auto factored = levels[index].lines.setup(levels[index].system()); !factored) return factored;
    }
    return factor_coarsest(*this, levels.back(), largest);
}

void Multigrid::apply(std::span<const double> r, std::span<double> z) { cycle(*this, 0, r, z); }

}  // namespace quorvel::two_d::whittaker
