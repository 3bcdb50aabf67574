#include "system.hpp"

#include <algorithm>

#include "linalg/difference_penalty.hpp"

namespace quorvel::pspline {
namespace {

// The columns a pair of neighbouring samples spans: their basis rows may start apart when knots lie closer than
// the samples.
std::size_t pair_span(const SplineBasis& basis, std::size_t i) {
    const std::uint64_t a = basis.first[i - 1], b = basis.first[i];
    return (a > b ? a - b : b - a) + basis.width();
}

// (B_i - B_{i-1}) as a dense row from column `from`.
std::size_t pair_row(const SplineBasis& basis, std::size_t i, std::vector<double>& row) {
    const std::size_t width = basis.width(), from = std::min(basis.first[i - 1], basis.first[i]);
    row.assign(pair_span(basis, i), 0.0);
    for (std::size_t a = 0; a < width; ++a) {
        row[basis.first[i] - from + a] += basis.values[i * width + a];
        row[basis.first[i - 1] - from + a] -= basis.values[(i - 1) * width + a];
    }
    return from;
}

// lam_1 (B_i - B_{i-1})'(B_i - B_{i-1}) and lam_1 (B_i - B_{i-1})' (y_i - y_{i-1}) summed over pairs of used
// neighbours, into the workspace's slope store of half-width `band`.
void form_slopes(std::span<const double> y, Mask mask, const SplineBasis& basis, double lam_1, std::size_t band,
                 SystemWorkspace& workspace) {
    const std::size_t m = basis.coefficients;
    auto& bands = workspace.slope_bands;
    auto& row = workspace.pair;
    bands.assign((band + 1) * m, 0.0);
    workspace.slope_rhs.assign(m, 0.0);
    for (std::size_t i = 1; i < y.size(); ++i) {
        if (is_masked_out(mask, i - 1) || is_masked_out(mask, i)) continue;
        const std::size_t from = pair_row(basis, i, row);
        const double step = lam_1 * (y[i] - y[i - 1]);
        for (std::size_t a = 0; a < row.size(); ++a) {
            workspace.slope_rhs[from + a] += row[a] * step;
            const double scaled = lam_1 * row[a];
            for (std::size_t b = 0; b <= a; ++b) bands[(a - b) * m + from + b] += scaled * row[b];
        }
    }
    workspace.slope_band = band;
    workspace.slopes_formed = true;
}

}  // namespace

void form_residual_slopes(std::span<const double> y, Mask mask, const SplineBasis& basis, double lam_1,
                          std::size_t band, SystemWorkspace& workspace) {
    for (std::size_t i = 1; i < y.size(); ++i) band = std::max(band, pair_span(basis, i) - 1);
    form_slopes(y, mask, basis, lam_1, band, workspace);
}

Status solve_system(std::span<const double> y, std::span<const double> weights, Mask mask, const SplineBasis& basis,
                    double lambda, unsigned diff_order, const SystemTerms& terms, SystemWorkspace& workspace,
                    std::span<double> baseline) {
    const std::size_t m = basis.coefficients, width = basis.width(), n = y.size();
    std::size_t band = std::max<std::size_t>({basis.degree, diff_order, terms.coefficient_slope != 0.0 ? 1u : 0u});
    const bool slopes = terms.residual_slope != 0.0;
    if (slopes && !workspace.slopes_formed) form_residual_slopes(y, mask, basis, terms.residual_slope, band, workspace);
    if (slopes) band = std::max(band, workspace.slope_band);
    auto& system = workspace.symmetric;
    auto& rhs = workspace.rhs;
    system.reset(m, band);
    rhs.assign(m, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = terms.squared_weights ? weights[i] * weights[i] : weights[i];
        if (w == 0.0) continue;
        const double* v = basis.values.data() + i * width;
        const std::size_t j = basis.first[i];
        for (std::size_t a = 0; a < width; ++a) {
            const double wa = w * v[a];
            rhs[j + a] += wa * y[i];
            for (std::size_t b = 0; b <= a; ++b) system.bands[(a - b) * m + j + b] += wa * v[b];
        }
    }
    if (slopes) {
        for (std::size_t d = 0; d <= workspace.slope_band; ++d) {
            for (std::size_t k = 0; k + d < m; ++k) system.bands[d * m + k] += workspace.slope_bands[d * m + k];
        }
        for (std::size_t k = 0; k < m; ++k) rhs[k] += workspace.slope_rhs[k];
    }
    if (terms.coefficient_slope != 0.0) {
        const linalg::PenaltyRows first(m, 1, terms.coefficient_slope);
        for (std::size_t i = 0; i < m; ++i) {
            system.bands[i] += first.at(i, 0);
            if (i > 0) system.bands[m + i - 1] += first.at(i, 1);
        }
    }
    const linalg::PenaltyRows penalty(m, diff_order, lambda);
    auto& c = workspace.coefficients;
    c.resize(m);
    if (terms.penalty_scale.empty()) {
        for (std::size_t i = 0; i < m; ++i) {
            for (std::size_t k = 0; k <= std::min<std::size_t>(i, diff_order); ++k) {
                system.bands[k * m + i - k] += penalty.at(i, k);
            }
        }
        if (auto solved = system.solve_spd(rhs, c); !solved) return solved;
    } else {
        auto& lu = workspace.general;
        lu.reset(m, band, band);
        for (std::size_t i = 0; i < m; ++i) {
            const double scale = terms.penalty_scale[i];
            lu.at(i, i) = system.bands[i] + scale * penalty.at(i, 0);
            for (std::size_t k = 1; k <= std::min(band, i); ++k) {
                lu.at(i, i - k) = system.bands[k * m + i - k] + scale * penalty.at(i, k);
                lu.at(i - k, i) = system.bands[k * m + i - k] + terms.penalty_scale[i - k] * penalty.at(i, k);
            }
        }
        if (auto factored = lu.factor(); !factored) return factored;
        std::copy(rhs.begin(), rhs.end(), c.begin());
        lu.substitute(c);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double* v = basis.values.data() + i * width;
        const double* ci = c.data() + basis.first[i];
        double sum = 0.0;
        for (std::size_t a = 0; a < width; ++a) sum += v[a] * ci[a];
        baseline[i] = sum;
    }
    return ok;
}

}  // namespace quorvel::pspline
