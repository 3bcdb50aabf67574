#include "multigrid.hpp"

#include <algorithm>
#include <cmath>

#include "axis_penalty.hpp"
#include "whittaker.hpp"

namespace quorvel::two_d::whittaker {
namespace {

constexpr std::uint64_t chebyshev_degree = 3;
constexpr double chebyshev_ratio = 10.0;

// Above the spectrum of D^-1 A (D the diagonal of A): weights pull it towards 1, and the
// penalty of an axis of m points keeps it below 2.8 for m >= 4, below 3 for m = 3.
double spectrum_bound(const MultigridLevel& level) {
    return std::min(level.rows, level.cols) == 3 ? 3.0 : 2.8;
}

void apply_level(const MultigridLevel& level, std::span<const double> v, std::span<double> out) {
    apply_system(level.rows, level.cols, level.lambda_r, level.lambda_c, level.weights, v, out);
}

// Chebyshev iteration on D^-1 A over [bound / ratio, bound]: a fixed polynomial, so the
// same smoother before and after the coarse correction keeps the V-cycle symmetric.
void smooth(MultigridLevel& level, std::span<const double> b, std::span<double> x, bool zero_start) {
    const std::size_t n = level.rows * level.cols;
    double* r = level.residual.data();
    double* d = level.direction.data();
    double* q = level.product.data();
    const double* inv = level.inverse_diagonal.data();
    const double hi = spectrum_bound(level), lo = hi / chebyshev_ratio;
    const double theta = (hi + lo) * 0.5, delta = (hi - lo) * 0.5, sigma = theta / delta;
    double rho = 1.0 / sigma;

    if (zero_start) {
        std::copy(b.begin(), b.end(), r);
    } else {
        apply_level(level, x, level.product);
        for (std::size_t k = 0; k < n; ++k) r[k] = b[k] - q[k];
    }
    for (std::size_t k = 0; k < n; ++k) d[k] = inv[k] * r[k] / theta;
    for (std::uint64_t step = 0;; ++step) {
        if (zero_start && step == 0) {
            std::copy(d, d + n, x.begin());
        } else {
            for (std::size_t k = 0; k < n; ++k) x[k] = x[k] + d[k];
        }
        if (step + 1 == chebyshev_degree) return;
        apply_level(level, level.direction, level.product);
        const double rho_next = 1.0 / (2.0 * sigma - rho);
        const double keep = rho_next * rho, gain = 2.0 * rho_next / delta;
        for (std::size_t k = 0; k < n; ++k) {
            r[k] = r[k] - q[k];
            d[k] = keep * d[k] + gain * (inv[k] * r[k]);
        }
        rho = rho_next;
    }
}

Status solve_coarsest(Multigrid& mg, MultigridLevel& level, std::span<const double> b, std::span<double> x) {
    const std::size_t n = level.rows * level.cols;
    for (std::size_t k = 0; k < n; ++k) level.scratch[k] = b[k] * mg.coarsest_scale;
    const Whittaker2DParams params{level.lambda_r, level.lambda_c, level.lambda_r, 1, 1.0, 1, 1.0};
    auto solved = solve_weighted_system(level.rows, level.cols, params, level.weights,
                                        std::span<const double>(level.scratch).first(n), x, level.residual,
                                        level.direction, level.product, mg.banded, true);
    if (!solved) return LinearSolveFailed{"2D Whittaker multigrid: coarsest system not positive definite"};
    return ok;
}

Status cycle(Multigrid& mg, std::size_t index, std::span<const double> b, std::span<double> x) {
    MultigridLevel& level = mg.levels[index];
    if (index + 1 == mg.levels.size()) return solve_coarsest(mg, level, b, x);
    MultigridLevel& next = mg.levels[index + 1];
    const std::size_t n = level.rows * level.cols;

    smooth(level, b, x, true);
    apply_level(level, x, level.product);
    for (std::size_t k = 0; k < n; ++k) level.residual[k] = b[k] - level.product[k];
    restrict_residual(level.down, level.residual, next.b, level.scratch);
    if (auto coarse = cycle(mg, index + 1, next.b, next.x); !coarse) return coarse;
    interpolate_add(level.down, next.x, x, level.scratch);
    smooth(level, b, x, false);
    return ok;
}

}  // namespace

void Multigrid::resize(std::uint64_t rows, std::uint64_t cols) {
    std::size_t count = 0;
    for (std::uint64_t r = rows, c = cols;; ++count) {
        if (count == levels.size()) levels.emplace_back();
        MultigridLevel& level = levels[count];
        level.rows = r;
        level.cols = c;
        level.down.build(r, c);
        const std::size_t n = r * c;
        for (auto* buffer : {&level.weights, &level.inverse_diagonal, &level.x, &level.b, &level.residual,
                             &level.direction, &level.product}) {
            buffer->resize(n, 0.0);
        }
        level.scratch.resize(std::max<std::size_t>(n, level.down.rows.coarse * c), 0.0);
        if (level.down.coarse_size() == n) break;
        r = level.down.rows.coarse;
        c = level.down.cols.coarse;
    }
    levels.resize(count + 1);
    const MultigridLevel& last = levels.back();
    banded.reset(last.rows * last.cols, 2 * last.cols);
}

void Multigrid::setup(std::span<const double> weights, double lambda_r, double lambda_c) {
    std::copy(weights.begin(), weights.end(), levels[0].weights.begin());
    for (std::size_t index = 0; index < levels.size(); ++index) {
        MultigridLevel& level = levels[index];
        if (index > 0) {
            const MultigridLevel& finer = levels[index - 1];
            level.lambda_r = finer.down.rows.identity() ? finer.lambda_r : finer.lambda_r / 16.0;
            level.lambda_c = finer.down.cols.identity() ? finer.lambda_c : finer.lambda_c / 16.0;
            restrict_weights(finer.down, finer.weights, level.weights, levels[index - 1].scratch);
        } else {
            level.lambda_r = lambda_r;
            level.lambda_c = lambda_c;
        }
        const AxisPenalty tr{level.rows}, tc{level.cols};
        double largest = 0.0;
        for (std::uint64_t i = 0; i < level.rows; ++i) {
            for (std::uint64_t j = 0; j < level.cols; ++j) {
                const std::uint64_t k = i * level.cols + j;
                const double diagonal = level.weights[k] + level.lambda_r * tr.diag(i) + level.lambda_c * tc.diag(j);
                level.inverse_diagonal[k] = 1.0 / diagonal;
                largest = std::max(largest, diagonal);
            }
        }
        if (index + 1 == levels.size()) {
            // A unit largest diagonal makes the factorisation's absolute pivot test a relative one.
            coarsest_scale = 1.0 / largest;
            for (auto& w : level.weights) w = w * coarsest_scale;
            level.lambda_r = level.lambda_r * coarsest_scale;
            level.lambda_c = level.lambda_c * coarsest_scale;
        }
    }
}

Status Multigrid::apply(std::span<const double> r, std::span<double> z) { return cycle(*this, 0, r, z); }

}  // namespace quorvel::two_d::whittaker
