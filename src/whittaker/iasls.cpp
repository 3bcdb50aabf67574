#include "iasls.hpp"

#include <algorithm>
#include <array>

#include "core/numeric.hpp"
#include "linalg/dense.hpp"

namespace quorvel::whittaker {
namespace {

// The least-squares polynomial of degree min(2, used - 1) through the used samples, on x in [-1, 1].
void quadratic_fit(std::span<const double> y, Mask mask, std::span<double> fit) {
    const std::size_t n = y.size(), terms = std::min<std::size_t>(3, used_count(n, mask));
    // The normal equations hold sums of x^(r + c) and x^r y: five and three sums, not twelve.
    std::array<double, 5> power_sums{};
    std::array<double, 9> normal{};
    std::array<double, 3> rhs{}, coef{}, pivot{};
    for (std::size_t i = 0; i < n; ++i) {
        if (is_masked_out(mask, i)) continue;
        const double x = scaled_coordinate(i, n), x2 = x * x, powers[5] = {1.0, x, x2, x * x2, x2 * x2};
        for (std::size_t p = 0; p < 5; ++p) power_sums[p] = power_sums[p] + powers[p];
        for (std::size_t r = 0; r < 3; ++r) rhs[r] = rhs[r] + powers[r] * y[i];
    }
    for (std::size_t r = 0; r < terms; ++r) {
        for (std::size_t c = 0; c < terms; ++c) normal[r * terms + c] = power_sums[r + c];
    }
    const bool solved = static_cast<bool>(linalg::dense::solve_dense_in_place(
        std::span(normal).first(terms * terms), std::span(rhs).first(terms), coef, pivot));
    for (std::size_t i = 0; i < n; ++i) {
        const double x = scaled_coordinate(i, n);
        fit[i] = solved ? coef[0] + x * (coef[1] + x * coef[2]) : 0.0;
    }
}

}  // namespace

IaslsRun start(const IaslsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    auto& fit = workspace.rhs;
    fit.resize(y.size());
    quadratic_fit(y, mask, fit);
    update_masked(AslsWeights{rule.p}, y, fit, workspace.iter.weights, 0, mask);
    if (mask.empty()) return {rule, nullptr};
    auto& keep = workspace.state;
    keep.resize(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) keep[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    return {rule, keep.data()};
}

Status solve(const IaslsRun& run, std::span<const double> y, std::span<double> baseline,
             WhittakerWorkspace& workspace, const WhittakerParams& params) {
    const std::size_t n = y.size();
    const linalg::PenaltyRows penalty(n, params.diff_order, params.lambda);
    return with_iasls_system<simd::ScalarPack<1>>(
        y.data(), workspace.iter.weights.data(), run.keep, n, run.rule.lam_1, penalty,
        [&](const auto& system) { return solve_band(params.diff_order, n, system, baseline, workspace.band); });
}

}  // namespace quorvel::whittaker
