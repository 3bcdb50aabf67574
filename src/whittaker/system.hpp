// The band solves of the Whittaker rules: W + lambda D'D of any difference order, and the systems of
// band_systems.hpp by LDL' or, unsymmetric, by LDU.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "band_systems.hpp"
#include "core/error.hpp"
#include "linalg/band_ldl_twisted.hpp"
#include "linalg/band_ldu_lanes.hpp"
#include "linalg/difference_penalty.hpp"
#include "linalg/pentadiagonal.hpp"
#include "simd/scalar_pack.hpp"
#include "workspace.hpp"

namespace quorvel::whittaker {

// x from A x = rhs for the symmetric band matrix of `system` (a band system of band_systems.hpp over one
// lane), by LDL' of half-width B; `storage` holds the factor.
template <std::size_t B, class System>
Status solve_band(std::size_t n, const System& system, std::span<double> x, std::vector<double>& storage) {
    using One = simd::ScalarPack<1>;
    storage.resize((B + 2) * n);
    linalg::band::LaneFactor<B> factor{};
    for (std::size_t k = 0; k < B; ++k) factor.l[k] = storage.data() + k * n;
    factor.inv_d = storage.data() + B * n;
    factor.t = storage.data() + (B + 1) * n;
    const auto failed = linalg::band::solve<One, B>(
        n, [&](std::size_t i, std::size_t k) { return system.entry(i, k); },
        [&](std::size_t i) { return system.rhs(i); }, factor, x.data());
    if (any_of(failed)) return linalg::pentadiagonal::not_positive_definite;
    return ok;
}

// The same with the half-width chosen at run time, 1 to 3.
template <class System>
Status solve_band(unsigned width, std::size_t n, const System& system, std::span<double> x,
                  std::vector<double>& storage) {
    return linalg::band::with_width(width, [&](auto b) { return solve_band<b()>(n, system, x, storage); });
}

// The same for an unsymmetric band system (lower, upper and rhs of band_systems.hpp over one lane) by
// LDU without row exchanges; false when a pivot fails, which leaves x unspecified.
template <std::size_t B, class System>
bool solve_band_ldu(std::size_t n, const System& system, std::span<double> x, std::vector<double>& storage) {
    using One = simd::ScalarPack<1>;
    storage.resize((2 * B + 2) * n);
    linalg::band::LduFactor<B> factor{};
    for (std::size_t k = 0; k < B; ++k) {
        factor.l[k] = storage.data() + k * n;
        factor.u[k] = storage.data() + (B + k) * n;
    }
    factor.inv_d = storage.data() + 2 * B * n;
    factor.t = storage.data() + (2 * B + 1) * n;
    const auto failed = linalg::band::ldu_factor_forward<One, B>(
        n, [&](std::size_t i, std::size_t k) { return system.lower(i, k); },
        [&](std::size_t i, std::size_t k) { return system.upper(i, k); }, [&](std::size_t i) { return system.rhs(i); },
        factor);
    if (any_of(failed)) return false;
    linalg::band::ldu_back_substitute<One, B>(n, factor, x.data());
    return true;
}

template <class System>
bool solve_band_ldu(unsigned width, std::size_t n, const System& system, std::span<double> x,
                    std::vector<double>& storage) {
    return linalg::band::with_width(width, [&](auto b) { return solve_band_ldu<b()>(n, system, x, storage); });
}

// f(penalty) with lambda D'D of `order`: on the fit's uneven positions when the workspace holds them (made by
// prepare_uneven with the same order and lambda), else on the index.
template <class F>
auto with_penalty(const WhittakerWorkspace& workspace, std::size_t n, unsigned order, double lambda, F f) {
    if (workspace.uneven.active) return f(workspace.uneven.penalty);
    return f(linalg::PenaltyRows(n, order, lambda));
}

// f(penalty, first) with D1'D1 as well.
template <class F>
auto with_penalties(const WhittakerWorkspace& workspace, std::size_t n, unsigned order, double lambda, F f) {
    if (workspace.uneven.active) return f(workspace.uneven.penalty, workspace.uneven.first);
    return f(linalg::PenaltyRows(n, order, lambda), linalg::PenaltyRows(n, 1, 1.0));
}

// (W + lambda D'D) z = W y with D of `order`, by LDL'.
Status solve_weighted(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                      WhittakerWorkspace& workspace, double lambda, unsigned order);

// The same, except that the second order on the index keeps the Cholesky solve of the first three methods' bits.
Status solve_penalised(std::span<const double> y, std::span<const double> weights, std::span<double> baseline,
                       WhittakerWorkspace& workspace, double lambda, unsigned order);

}  // namespace quorvel::whittaker
