#include "grid_system.hpp"

#include <algorithm>

#include "linalg/difference_penalty.hpp"

namespace quorvel::pspline::two_d {
namespace {

using quorvel::two_d::Grid;

// A sparse row of a basis or of the difference of two neighbouring rows: `width` values from column `first`.
struct RowView {
    std::size_t first;
    const double* values;
    std::size_t width;
};

RowView basis_row(const SplineBasis& basis, std::size_t i) {
    return {basis.first[i], basis.values.data() + i * basis.width(), basis.width()};
}

// The columns neighbours i - 1 and i span: their rows may start apart when knots lie closer than the samples.
std::size_t pair_span(const SplineBasis& basis, std::size_t i) {
    const std::uint64_t a = basis.first[i - 1], b = basis.first[i];
    return (a > b ? a - b : b - a) + basis.width();
}

std::size_t widest_pair(const SplineBasis& basis, std::size_t count) {
    std::size_t widest = basis.width();
    for (std::size_t i = 1; i < count; ++i) widest = std::max(widest, pair_span(basis, i));
    return widest;
}

// B_i - B_{i-1}, dense in `row`.
RowView pair_row(const SplineBasis& basis, std::size_t i, std::vector<double>& row) {
    const std::size_t width = basis.width(), from = std::min(basis.first[i - 1], basis.first[i]);
    row.assign(pair_span(basis, i), 0.0);
    for (std::size_t a = 0; a < width; ++a) {
        row[basis.first[i] - from + a] += basis.values[i * width + a];
        row[basis.first[i - 1] - from + a] -= basis.values[(i - 1) * width + a];
    }
    return {from, row.data(), row.size()};
}

// One grid row's Gram band G (G(b + d, b) at gram[d * m + b]) and right side, summed one axis-1 row at a time.
struct Gram {
    std::vector<double>& bands;
    std::vector<double>& rhs;
    std::size_t m, half;

    void clear() {
        bands.assign((half + 1) * m, 0.0);
        rhs.assign(m, 0.0);
    }
    void add(const RowView& v, double weight, double value) {
        for (std::size_t a = 0; a < v.width; ++a) {
            const double wa = weight * v.values[a];
            rhs[v.first + a] += wa * value;
            for (std::size_t b = 0; b <= a; ++b) bands[(a - b) * m + v.first + b] += wa * v.values[b];
        }
    }
};

// (u u') (x) G into the bands of an n-unknown system (element (k + d, k) at bands[d * n + k]) and u (x) r into
// its right side, coefficient (a, b) at a * m + b.
void scatter(const RowView& u, const Gram& g, std::span<double> band_store, std::size_t n, std::span<double> rhs) {
    const std::size_t m = g.m;
    double* bands = band_store.data();
    for (std::size_t a = 0; a < u.width; ++a) {
        const std::size_t row_a = (u.first + a) * m;
        for (std::size_t b = 0; b < m; ++b) rhs[row_a + b] += u.values[a] * g.rhs[b];
        for (std::size_t a2 = a; a2 < u.width; ++a2) {
            const double scale = u.values[a] * u.values[a2];
            if (scale == 0.0) continue;
            const std::size_t lift = (a2 - a) * m;
            for (std::size_t d = 0; d <= g.half; ++d) {
                const double* column = g.bands.data() + d * m;
                double* below = bands + (lift + d) * n + row_a;
                for (std::size_t b = 0; b + d < m; ++b) below[b] += scale * column[b];
                // Above the diagonal of the block: G(b, b + d) sits left of the main band when the rows differ.
                if (a2 == a || d == 0) continue;
                double* above = bands + (lift - d) * n + row_a + d;
                for (std::size_t b = 0; b + d < m; ++b) above[b] += scale * column[b];
            }
        }
    }
}

bool used_pair(Mask mask, std::size_t i, std::size_t j) { return !is_masked_out(mask, i) && !is_masked_out(mask, j); }

// lam_1 times the first differences of the residual along either axis, in the coefficients' space, into the
// workspace's slope store (the layout of the system's bands).
void form_slopes(const Grid& data, Mask mask, const GridBases& bases, const GridTerms& terms,
                 GridSystemWorkspace& ws) {
    const std::size_t rows = data.rows, cols = data.cols, m = bases.axis1.coefficients, n = ws.banded.n;
    ws.slope_bands.assign(ws.banded.bands.size(), 0.0);
    ws.slope_rhs.assign(n, 0.0);
    std::vector<double> pair_values;
    if (terms.residual_slope[0] != 0.0) {
        Gram g{ws.gram, ws.gram_rhs, m, bases.axis1.degree};
        for (std::size_t i = 1; i < rows; ++i) {
            g.clear();
            for (std::size_t j = 0; j < cols; ++j) {
                const std::size_t at = i * cols + j;
                if (!used_pair(mask, at - cols, at)) continue;
                g.add(basis_row(bases.axis1, j), terms.residual_slope[0], data.data[at] - data.data[at - cols]);
            }
            scatter(pair_row(bases.axis0, i, pair_values), g, ws.slope_bands, n, ws.slope_rhs);
        }
    }
    if (terms.residual_slope[1] != 0.0) {
        Gram g{ws.gram, ws.gram_rhs, m, widest_pair(bases.axis1, cols) - 1};
        for (std::size_t i = 0; i < rows; ++i) {
            g.clear();
            for (std::size_t j = 1; j < cols; ++j) {
                const std::size_t at = i * cols + j;
                if (!used_pair(mask, at - 1, at)) continue;
                g.add(pair_row(bases.axis1, j, ws.row), terms.residual_slope[1], data.data[at] - data.data[at - 1]);
            }
            scatter(basis_row(bases.axis0, i), g, ws.slope_bands, n, ws.slope_rhs);
        }
    }
    ws.slopes_formed = true;
}

void add_penalty(const GridBases& bases, const GridPenalty& penalty, linalg::banded::SymmetricBandedWorkspace& system) {
    const std::size_t m0 = bases.axis0.coefficients, m1 = bases.axis1.coefficients, n = system.n;
    const unsigned d0 = penalty.diff_order[0], d1 = penalty.diff_order[1];
    const linalg::PenaltyRows along0(m0, d0, penalty.lambda[0]), along1(m1, d1, penalty.lambda[1]);
    for (std::size_t a = 0; a < m0; ++a) {
        for (std::size_t b = 0; b < m1; ++b) {
            const std::size_t k = a * m1 + b;
            for (std::size_t s = 0; s <= std::min<std::size_t>(a, d0); ++s) {
                system.bands[s * m1 * n + k - s * m1] += along0.at(a, s);
            }
            for (std::size_t s = 0; s <= std::min<std::size_t>(b, d1); ++s) {
                system.bands[s * n + k - s] += along1.at(b, s);
            }
        }
    }
}

}  // namespace

std::size_t grid_band(const GridBases& bases, const GridPenalty& penalty, const GridTerms& terms) {
    const std::size_t m = bases.axis1.coefficients, reach0 = bases.axis0.degree, reach1 = bases.axis1.degree;
    std::size_t band = std::max({reach0 * m + reach1, penalty.diff_order[0] * m, std::size_t{penalty.diff_order[1]}});
    const std::size_t rows = bases.axis0.first.size(), cols = bases.axis1.first.size();
    if (terms.residual_slope[0] != 0.0) band = std::max(band, (widest_pair(bases.axis0, rows) - 1) * m + reach1);
    if (terms.residual_slope[1] != 0.0) band = std::max(band, reach0 * m + widest_pair(bases.axis1, cols) - 1);
    return std::min<std::size_t>(band, bases.axis0.coefficients * m - 1);
}

Status solve_grid(const Grid& data, std::span<const double> weights, Mask mask, const GridBases& bases,
                  const GridPenalty& penalty, const GridTerms& terms, GridSystemWorkspace& ws,
                  std::span<double> baseline) {
    const std::size_t rows = data.rows, cols = data.cols;
    const std::size_t m0 = bases.axis0.coefficients, m1 = bases.axis1.coefficients, unknowns = m0 * m1;
    const bool slopes = terms.residual_slope[0] != 0.0 || terms.residual_slope[1] != 0.0;
    auto& system = ws.banded;
    system.reset(unknowns, grid_band(bases, penalty, terms));
    if (slopes && !ws.slopes_formed) form_slopes(data, mask, bases, terms, ws);
    if (slopes) {
        std::copy(ws.slope_bands.begin(), ws.slope_bands.end(), system.bands.begin());
        ws.rhs.assign(ws.slope_rhs.begin(), ws.slope_rhs.end());
    } else {
        ws.rhs.assign(unknowns, 0.0);
    }
    Gram g{ws.gram, ws.gram_rhs, m1, bases.axis1.degree};
    for (std::size_t i = 0; i < rows; ++i) {
        g.clear();
        bool any = false;
        for (std::size_t j = 0; j < cols; ++j) {
            const double w = weights[i * cols + j];
            const double weight = terms.squared_weights ? w * w : w;
            if (weight == 0.0) continue;
            g.add(basis_row(bases.axis1, j), weight, data.data[i * cols + j]);
            any = true;
        }
        if (any) scatter(basis_row(bases.axis0, i), g, system.bands, unknowns, ws.rhs);
    }
    add_penalty(bases, penalty, system);
    ws.coefficients.resize(unknowns);
    if (auto factored = ws.cholesky.factor(system); !factored) return factored;
    ws.cholesky.substitute(ws.rhs, ws.coefficients);

    // B0 C B1', one grid row at a time: the row's combination of coefficient rows, then each point's columns.
    auto& partial = ws.partial;
    partial.resize(m1);
    for (std::size_t i = 0; i < rows; ++i) {
        const RowView u = basis_row(bases.axis0, i);
        std::fill(partial.begin(), partial.end(), 0.0);
        for (std::size_t a = 0; a < u.width; ++a) {
            const double* c = ws.coefficients.data() + (u.first + a) * m1;
            for (std::size_t b = 0; b < m1; ++b) partial[b] += u.values[a] * c[b];
        }
        for (std::size_t j = 0; j < cols; ++j) {
            const RowView v = basis_row(bases.axis1, j);
            double sum = 0.0;
            for (std::size_t b = 0; b < v.width; ++b) sum += v.values[b] * partial[v.first + b];
            baseline[i * cols + j] = sum;
        }
    }
    return ok;
}

}  // namespace quorvel::pspline::two_d
