#include "weighted_smooth.hpp"

#include "difference_penalty.hpp"

namespace quorvel::linalg {

Status penalised_solve(std::span<const double> diagonal, std::span<const double> rhs, double lam, unsigned order,
                       std::span<double> out, banded::SymmetricBandedWorkspace& band) {
    const std::size_t n = rhs.size();
    band.reset(n, order);
    const PenaltyRows penalty(n, order, lam);
    for (std::size_t d = 0; d <= order; ++d) {
        for (std::size_t k = 0; k + d < n; ++k) band.bands[d * n + k] = penalty.at(k + d, d);
    }
    for (std::size_t k = 0; k < n; ++k) band.bands[k] = band.bands[k] + diagonal[k];
    return band.solve_spd(rhs, out);
}

Status weighted_smooth(std::span<const double> v, std::span<const double> weights, double lam, unsigned order,
                       std::span<double> out, WeightedSmoothWorkspace& work) {
    work.rhs.resize(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) work.rhs[k] = weights[k] * v[k];
    return penalised_solve(weights, work.rhs, lam, order, out, work.band);
}

}  // namespace quorvel::linalg
