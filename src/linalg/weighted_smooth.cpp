#include "weighted_smooth.hpp"

#include "band_ldl_twisted.hpp"
#include "difference_penalty.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::linalg {
namespace {

template <std::size_t B>
Status solve_width(std::span<const double> diagonal, std::span<const double> rhs, const PenaltyRows& penalty,
                   std::span<double> out, std::vector<double>& storage) {
    using One = simd::ScalarPack<1>;
    const std::size_t n = rhs.size();
    storage.resize((B + 2) * n);
    band::LaneFactor<B> factor{};
    for (std::size_t k = 0; k < B; ++k) factor.l[k] = storage.data() + k * n;
    factor.inv_d = storage.data() + B * n;
    factor.t = storage.data() + (B + 1) * n;
    const auto entry = [&](std::size_t i, std::size_t k) {
        return One::splat(k == 0 ? diagonal[i] + penalty.at(i, 0) : penalty.at(i, k));
    };
    const auto failed = band::solve<One, B>(n, entry, [&](std::size_t i) { return One::splat(rhs[i]); }, factor,
                                            out.data());
    if (failed.v[0]) return LinearSolveFailed{"matrix was not positive definite"};
    return ok;
}

}  // namespace

Status penalised_solve(std::span<const double> diagonal, std::span<const double> rhs, double lam, unsigned order,
                       std::span<double> out, std::vector<double>& factor) {
    const PenaltyRows penalty(rhs.size(), order, lam);
    return band::with_width(order, [&](auto b) { return solve_width<b()>(diagonal, rhs, penalty, out, factor); });
}

Status weighted_smooth(std::span<const double> v, std::span<const double> weights, double lam, unsigned order,
                       std::span<double> out, WeightedSmoothWorkspace& work) {
    work.rhs.resize(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) work.rhs[k] = weights[k] * v[k];
    return penalised_solve(weights, work.rhs, lam, order, out, work.factor);
}

}  // namespace quorvel::linalg
