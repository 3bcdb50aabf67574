#include "system.hpp"

#include <type_traits>

#include "linalg/difference_penalty.hpp"
#include "linalg/pentadiagonal.hpp"

namespace quorvel::whittaker {

Status solve_weighted(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                      WhittakerWorkspace& workspace, double lambda, unsigned order) {
    return with_penalty(workspace, y.size(), order, lambda, [&](const auto& penalty) {
        using Penalty = std::remove_cvref_t<decltype(penalty)>;
        const WeightedSystem<simd::ScalarPack<1>, Penalty> system{y.data(), weights.data(), penalty};
        return solve_band(order, y.size(), system, baseline, workspace.band);
    });
}

Status solve_penalised(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                       WhittakerWorkspace& workspace, double lambda, unsigned order) {
    if (order == 2 && !workspace.uneven.active) {
        return linalg::pentadiagonal::solve_second_order(y, weights, baseline, workspace.solver, lambda);
    }
    return solve_weighted(y, weights, baseline, workspace, lambda, order);
}

}  // namespace quorvel::whittaker
