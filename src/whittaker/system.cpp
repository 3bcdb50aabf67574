#include "system.hpp"

#include <algorithm>

#include "linalg/difference_penalty.hpp"
#include "linalg/pentadiagonal.hpp"

namespace quorvel::whittaker {
namespace {

unsigned widest(std::initializer_list<Penalty> penalties, unsigned order = 0) {
    for (const Penalty& penalty : penalties) order = std::max(order, penalty.order);
    return order;
}

// Entry (i, i + k) of the sum of the penalties.
double penalty_sum(std::size_t n, std::initializer_list<Penalty> penalties, std::size_t i, std::size_t k) {
    double sum = 0.0;
    for (const Penalty& penalty : penalties) {
        sum = sum + penalty.lambda * linalg::difference_penalty(n, penalty.order, i, k);
    }
    return sum;
}

}  // namespace

Status solve_weighted(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                      WhittakerWorkspace& workspace, double lambda, unsigned order) {
    const linalg::PenaltyRows penalty(y.size(), order, lambda);
    const WeightedSystem<simd::ScalarPack<1>> system{y.data(), weights.data(), penalty};
    return solve_band(order, y.size(), system, baseline, workspace.band);
}

Status solve_penalised(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                       WhittakerWorkspace& workspace, double lambda, unsigned order) {
    if (order == 2) {
        return linalg::pentadiagonal::solve_second_order(y, weights, baseline, workspace.solver, lambda);
    }
    return solve_weighted(y, weights, baseline, workspace, lambda, order);
}

void fill_symmetric(linalg::banded::SymmetricBandedWorkspace& system, std::span<const double> diagonal,
                    std::initializer_list<Penalty> penalties) {
    const std::size_t n = diagonal.size(), width = widest(penalties);
    system.reset(n, width);
    for (std::size_t k = 0; k <= width; ++k) {
        for (std::size_t i = 0; i + k < n; ++i) {
            system.bands[k * n + i] = (k == 0 ? diagonal[i] : 0.0) + penalty_sum(n, penalties, i, k);
        }
    }
}

void fill_row_scaled(linalg::banded::GeneralBandedWorkspace& system, std::span<const double> diagonal,
                     std::initializer_list<Penalty> penalties, Penalty scaled, std::span<const double> row_scale) {
    const std::size_t n = diagonal.size(), width = widest(penalties, scaled.order);
    system.reset(n, width, width);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t first = i > width ? i - width : 0, last = std::min(n - 1, i + width);
        for (std::size_t c = first; c <= last; ++c) {
            const std::size_t lo = std::min(i, c), k = std::max(i, c) - lo;
            const double own = row_scale[i] * scaled.lambda * linalg::difference_penalty(n, scaled.order, lo, k);
            system.at(i, c) = (c == i ? diagonal[i] : 0.0) + penalty_sum(n, penalties, lo, k) + own;
        }
    }
}

}  // namespace quorvel::whittaker
