#include "grid_system.hpp"

#include <algorithm>
#include <array>

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

// The grid seen with the axis of fewer coefficients along its lines, so that the band, (degree + 1) times those
// coefficients wide, is the narrower of the two: line i of `lines`, point j along it, is data point at(i, j);
// coefficient (a, b), a of the lines' basis and b of the points', is unknown a * m + b.
struct Oriented {
    const SplineBasis& across;  // the basis over the lines
    const SplineBasis& along;   // the basis along each line
    std::size_t lines, points, cols;
    bool transposed;
    std::array<double, 2> lambda, slope;  // across the lines, along them
    std::array<unsigned, 2> order;

    Oriented(const Grid& data, const GridBases& bases, const GridPenalty& penalty, const GridTerms& terms)
        : Oriented(data, bases, penalty, terms, bases.axis0.coefficients < bases.axis1.coefficients) {}
    Oriented(const Grid& data, const GridBases& bases, const GridPenalty& penalty, const GridTerms& terms, bool swap)
        : across(swap ? bases.axis1 : bases.axis0),
          along(swap ? bases.axis0 : bases.axis1),
          lines(swap ? data.cols : data.rows),
          points(swap ? data.rows : data.cols),
          cols(data.cols),
          transposed(swap),
          lambda{penalty.lambda[swap ? 1 : 0], penalty.lambda[swap ? 0 : 1]},
          slope{terms.residual_slope[swap ? 1 : 0], terms.residual_slope[swap ? 0 : 1]},
          order{penalty.diff_order[swap ? 1 : 0], penalty.diff_order[swap ? 0 : 1]} {}

    std::size_t at(std::size_t i, std::size_t j) const { return transposed ? j * cols + i : i * cols + j; }
    std::size_t m() const { return along.coefficients; }
    std::size_t unknowns() const { return across.coefficients * along.coefficients; }
};

// lam_1 times the first differences of the residual across and along the lines, in the coefficients' space, into
// the workspace's slope store (the layout of the system's bands).
void form_slopes(const Grid& data, Mask mask, const Oriented& o, GridSystemWorkspace& ws) {
    const std::size_t m = o.m(), n = ws.banded.n;
    ws.slope_bands.assign(ws.banded.bands.size(), 0.0);
    ws.slope_rhs.assign(n, 0.0);
    std::vector<double> pair_values;
    if (o.slope[0] != 0.0) {
        Gram g{ws.gram, ws.gram_rhs, m, o.along.degree};
        for (std::size_t i = 1; i < o.lines; ++i) {
            g.clear();
            for (std::size_t j = 0; j < o.points; ++j) {
                const std::size_t at = o.at(i, j), before = o.at(i - 1, j);
                if (!used_pair(mask, before, at)) continue;
                g.add(basis_row(o.along, j), o.slope[0], data.data[at] - data.data[before]);
            }
            scatter(pair_row(o.across, i, pair_values), g, ws.slope_bands, n, ws.slope_rhs);
        }
    }
    if (o.slope[1] != 0.0) {
        Gram g{ws.gram, ws.gram_rhs, m, widest_pair(o.along, o.points) - 1};
        for (std::size_t i = 0; i < o.lines; ++i) {
            g.clear();
            for (std::size_t j = 1; j < o.points; ++j) {
                const std::size_t at = o.at(i, j), before = o.at(i, j - 1);
                if (!used_pair(mask, before, at)) continue;
                g.add(pair_row(o.along, j, ws.row), o.slope[1], data.data[at] - data.data[before]);
            }
            scatter(basis_row(o.across, i), g, ws.slope_bands, n, ws.slope_rhs);
        }
    }
    ws.slopes_formed = true;
}

void add_penalty(const Oriented& o, linalg::banded::SymmetricBandedWorkspace& system) {
    const std::size_t m0 = o.across.coefficients, m1 = o.m(), n = system.n;
    const linalg::PenaltyRows across(m0, o.order[0], o.lambda[0]), along(m1, o.order[1], o.lambda[1]);
    for (std::size_t a = 0; a < m0; ++a) {
        for (std::size_t b = 0; b < m1; ++b) {
            const std::size_t k = a * m1 + b;
            for (std::size_t s = 0; s <= std::min<std::size_t>(a, o.order[0]); ++s) {
                system.bands[s * m1 * n + k - s * m1] += across.at(a, s);
            }
            for (std::size_t s = 0; s <= std::min<std::size_t>(b, o.order[1]); ++s) {
                system.bands[s * n + k - s] += along.at(b, s);
            }
        }
    }
}

std::size_t band_of(const Oriented& o) {
    const std::size_t m = o.m(), reach0 = o.across.degree, reach1 = o.along.degree;
    std::size_t band = std::max({reach0 * m + reach1, o.order[0] * m, std::size_t{o.order[1]}});
    if (o.slope[0] != 0.0) band = std::max(band, (widest_pair(o.across, o.lines) - 1) * m + reach1);
    if (o.slope[1] != 0.0) band = std::max(band, reach0 * m + widest_pair(o.along, o.points) - 1);
    return std::min<std::size_t>(band, o.unknowns() - 1);
}

}  // namespace

Status solve_grid(const Grid& data, std::span<const double> weights, Mask mask, const GridBases& bases,
                  const GridPenalty& penalty, const GridTerms& terms, GridSystemWorkspace& ws,
                  std::span<double> baseline) {
    const Oriented o(data, bases, penalty, terms);
    const std::size_t m = o.m(), unknowns = o.unknowns();
    const bool slopes = o.slope[0] != 0.0 || o.slope[1] != 0.0;
    auto& system = ws.banded;
    system.reset(unknowns, band_of(o));
    if (slopes && !ws.slopes_formed) form_slopes(data, mask, o, ws);
    if (slopes) {
        std::copy(ws.slope_bands.begin(), ws.slope_bands.end(), system.bands.begin());
        ws.rhs.assign(ws.slope_rhs.begin(), ws.slope_rhs.end());
    } else {
        ws.rhs.assign(unknowns, 0.0);
    }
    Gram g{ws.gram, ws.gram_rhs, m, o.along.degree};
    for (std::size_t i = 0; i < o.lines; ++i) {
        g.clear();
        bool any = false;
        for (std::size_t j = 0; j < o.points; ++j) {
            const std::size_t at = o.at(i, j);
            const double weight = terms.squared_weights ? weights[at] * weights[at] : weights[at];
            if (weight == 0.0) continue;
            g.add(basis_row(o.along, j), weight, data.data[at]);
            any = true;
        }
        if (any) scatter(basis_row(o.across, i), g, system.bands, unknowns, ws.rhs);
    }
    add_penalty(o, system);
    ws.coefficients.resize(unknowns);
    if (auto factored = ws.cholesky.factor(system); !factored) return factored;
    ws.cholesky.substitute(ws.rhs, ws.coefficients);

    // B C B' a line at a time: the line's combination of coefficient rows, then each point's along it.
    auto& partial = ws.partial;
    partial.resize(m);
    for (std::size_t i = 0; i < o.lines; ++i) {
        const RowView u = basis_row(o.across, i);
        std::fill(partial.begin(), partial.end(), 0.0);
        for (std::size_t a = 0; a < u.width; ++a) {
            const double* c = ws.coefficients.data() + (u.first + a) * m;
            for (std::size_t b = 0; b < m; ++b) partial[b] += u.values[a] * c[b];
        }
        for (std::size_t j = 0; j < o.points; ++j) {
            const RowView v = basis_row(o.along, j);
            double sum = 0.0;
            for (std::size_t b = 0; b < v.width; ++b) sum += v.values[b] * partial[v.first + b];
            baseline[o.at(i, j)] = sum;
        }
    }
    return ok;
}

}  // namespace quorvel::pspline::two_d
