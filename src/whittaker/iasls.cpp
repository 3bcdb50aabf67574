#include "iasls.hpp"

#include <algorithm>
#include <array>

#include "core/numeric.hpp"
#include "linalg/dense.hpp"

namespace quorvel::whittaker {
namespace {

// The least-squares polynomial of degree min(2, used - 1) through the used samples, on x in [-1, 1]: position(i).
template <class Position>
void quadratic_fit(std::span<const double> y, Position position, Mask mask, std::span<double> fit) {
    const std::size_t n = y.size(), terms = std::min<std::size_t>(3, used_count(n, mask));
    // The normal equations hold sums of x^(r + c) and x^r y: five and three sums, not twelve.
    std::array<double, 5> power_sums{};
    std::array<double, 9> normal{};
    std::array<double, 3> rhs{}, coef{}, pivot{};
    for (std::size_t i = 0; i < n; ++i) {
        if (is_masked_out(mask, i)) continue;
        const double x = position(i);
        const double x2 = x * x, powers[5] = {1.0, x, x2, x * x2, x2 * x2};
        for (std::size_t p = 0; p < 5; ++p) power_sums[p] = power_sums[p] + powers[p];
        for (std::size_t r = 0; r < 3; ++r) rhs[r] = rhs[r] + powers[r] * y[i];
    }
    for (std::size_t r = 0; r < terms; ++r) {
        for (std::size_t c = 0; c < terms; ++c) normal[r * terms + c] = power_sums[r + c];
    }
    const bool solved = static_cast<bool>(linalg::dense::solve_dense_in_place(
        std::span(normal).first(terms * terms), std::span(rhs).first(terms), coef, pivot));
    for (std::size_t i = 0; i < n; ++i) {
        const double x = position(i);
        fit[i] = solved ? coef[0] + x * (coef[1] + x * coef[2]) : 0.0;
    }
}

// Column t of the tensor-product terms x^a z^b (a, b <= order) at one point.
double term(std::size_t t, std::size_t order, double x, double z) {
    double value = 1.0;
    for (std::size_t a = 0; a < t / (order + 1); ++a) value = value * x;
    for (std::size_t b = 0; b < t % (order + 1); ++b) value = value * z;
    return value;
}

// The least-squares surface of the used points with every term x^a z^b, a, b <= order, on [-1, 1]^2 (or on the
// positions given); false when its normal equations are singular, as they are when the used points lie on too few
// rows or columns.
bool surface_fit(const two_d::Grid& data, Mask mask, std::size_t order, std::span<double> fit,
                 std::span<const double> xs, std::span<const double> zs) {
    const std::size_t terms = (order + 1) * (order + 1);
    const auto at = [&](std::size_t k) {
        const std::size_t r = k / data.cols, c = k % data.cols;
        return std::array{xs.empty() ? scaled_coordinate(r, data.rows) : xs[r],
                          zs.empty() ? scaled_coordinate(c, data.cols) : zs[c]};
    };
    std::array<double, 81> normal{};
    std::array<double, 9> rhs{}, coef{}, pivot{}, row{};
    for (std::size_t k = 0; k < data.data.size(); ++k) {
        if (is_masked_out(mask, k)) continue;
        const auto [x, z] = at(k);
        for (std::size_t t = 0; t < terms; ++t) row[t] = term(t, order, x, z);
        for (std::size_t r = 0; r < terms; ++r) {
            rhs[r] = rhs[r] + row[r] * data.data[k];
            for (std::size_t c = 0; c < terms; ++c) normal[r * terms + c] = normal[r * terms + c] + row[r] * row[c];
        }
    }
    if (!linalg::dense::solve_dense_in_place(std::span(normal).first(terms * terms), std::span(rhs).first(terms),
                                             std::span(coef).first(terms), std::span(pivot).first(terms))) {
        return false;
    }
    for (std::size_t k = 0; k < fit.size(); ++k) {
        const auto [x, z] = at(k);
        double value = 0.0;
        for (std::size_t t = 0; t < terms; ++t) value = value + coef[t] * term(t, order, x, z);
        fit[k] = value;
    }
    return true;
}

}  // namespace

IaslsGridRun grid_start(const IaslsWeights& rule, const two_d::Grid& data, Mask mask, std::vector<double>& state,
                        std::span<double> weights, std::span<const double> x, std::span<const double> z) {
    const std::size_t n = data.data.size();
    state.resize(2 * n);
    const std::span<double> fit = std::span(state).first(n), keep = std::span(state).last(n);
    // A mask may leave too few rows or columns for the nine terms; the mean is always there.
    std::size_t order = 2;
    while (!surface_fit(data, mask, order, fit, x, z) && order > 0) --order;
    update_masked(AslsWeights{rule.p}, data.data, fit, weights, 0, mask);
    const double lam_1_cols = rule.lam_1_cols.value_or(rule.lam_1);
    if (mask.empty()) return {rule.p, rule.lam_1, lam_1_cols, {}};
    for (std::size_t i = 0; i < n; ++i) keep[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    return {rule.p, rule.lam_1, lam_1_cols, keep};
}

IaslsRun start(const IaslsWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace,
               std::span<const double> positions) {
    auto& fit = workspace.rhs;
    fit.resize(y.size());
    const std::size_t n = y.size();
    if (!positions.empty()) {
        quadratic_fit(y, [&](std::size_t i) { return positions[i]; }, mask, fit);
    } else if (workspace.uneven.active) {
        // On uneven positions the quadratic is one in x, as the penalty is.
        quadratic_fit(y, [&](std::size_t i) { return workspace.uneven.mapped.at(i); }, mask, fit);
    } else {
        quadratic_fit(y, [&](std::size_t i) { return scaled_coordinate(i, n); }, mask, fit);
    }
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
    const auto band = [&](const auto& system) {
        return solve_band(params.diff_order, n, system, baseline, workspace.band);
    };
    if (workspace.uneven.active) {
        return with_iasls_system<simd::ScalarPack<1>>(y.data(), workspace.iter.weights.data(), run.keep, n,
                                                      run.rule.lam_1, workspace.uneven.penalty,
                                                      &workspace.uneven.first, band);
    }
    const linalg::PenaltyRows penalty(n, params.diff_order, params.lambda);
    return with_iasls_system<simd::ScalarPack<1>, linalg::PenaltyRows>(y.data(), workspace.iter.weights.data(),
                                                                       run.keep, n, run.rule.lam_1, penalty, nullptr,
                                                                       band);
}

}  // namespace quorvel::whittaker
