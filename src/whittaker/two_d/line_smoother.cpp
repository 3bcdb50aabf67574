#include "line_smoother.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "axis_penalty.hpp"
#include "uneven_axes.hpp"

namespace quorvel::two_d::whittaker {
namespace {

// An axis's penalty element (t, t + s) times its smoothing weight: an uneven axis's own, or the index's.
struct Axis {
    AxisPenaltyOf even;
    const AxisSpacing* uneven;
    double lambda;

    double at(std::uint64_t t, std::int64_t s) const {
        if (uneven) return lambda * uneven->at(t, s);
        return lambda * (s == 0 ? even.diag(t) : even.at(t, s));
    }
};

// What a side's factor reads: the grid's diagonal at point (line, j) of the side, and the elements (j, j + s) of a
// line for s = 1 .. band.
struct SideView {
    std::uint64_t grid_cols;
    bool transposed;
    Axis along;
    double first_lambda;  // of the first differences along the lines
    std::span<const double> first_gains;

    std::uint64_t grid_index(std::uint64_t line, std::uint64_t j) const {
        return transposed ? j * grid_cols + line : line * grid_cols + j;
    }
};

// L D L' of every line of `side`, whose diagonal is `diagonal(line, j)`; false on a pivot that is not finite and
// positive (a principal block of a positive definite system has none).
template <class Diagonal, class Joins>
bool factor_lines(LineSide& side, const SideView& view, Diagonal diagonal, Joins joins) {
    const unsigned band = side.band;
    const std::uint64_t m = side.length;
    for (std::uint64_t line = 0; line < side.lines; ++line) {
        double* lower = side.lower.data() + line * m * band;
        double* inverse = side.inverse_pivot.data() + line * m;
        const auto element = [&](std::uint64_t j, unsigned k) {  // A(j, j - k) within the line, k >= 1
            const std::uint64_t i = j - k;
            double value = view.along.at(i, static_cast<std::int64_t>(k));
            if (k == 1 && view.first_lambda != 0.0 && joins(view.grid_index(line, i), view.grid_index(line, j))) {
                value = value - view.first_lambda * FirstDifferences::gain(view.first_gains, i);
            }
            return value;
        };
        for (std::uint64_t j = 0; j < m; ++j) {
            double* row = lower + j * band;
            double pivot = diagonal(line, j);
            for (unsigned k = band; k >= 1; --k) {
                if (k > j) {
                    row[k - 1] = 0.0;
                    continue;
                }
                double u = element(j, k);  // L(j, j - k) D(j - k)
                for (unsigned p = k + 1; p <= band && p <= j; ++p) {
                    u = u - row[p - 1] * lower[(j - k) * band + (p - k) - 1] / inverse[j - p];
                }
                row[k - 1] = u * inverse[j - k];
                pivot = pivot - u * row[k - 1];
            }
            if (!(pivot > 0.0) || !std::isfinite(pivot)) return false;
            inverse[j] = 1.0 / pivot;
        }
    }
    return true;
}

// Solves L D L' v = v on Count lines at once: the recurrences run side by side, each waiting on its own point only,
// with the last Band values of each kept in registers. The first Band points of a line run apart, so the rest
// unrolls; the back substitution takes D^-1 on the way.
template <unsigned Band, std::size_t Count>
void substitute(const LineSide& side, const std::array<std::uint64_t, Count>& lines, const std::array<double*, Count>& v) {
    const std::uint64_t m = side.length;
    std::array<const double*, Count> lower, inverse;
    std::array<std::array<double, Band + 1>, Count> last{};  // last[c][k]: v at j - k of line c
    for (std::size_t c = 0; c < Count; ++c) {
        lower[c] = side.lower.data() + lines[c] * m * Band;
        inverse[c] = side.inverse_pivot.data() + lines[c] * m;
    }
    const auto shift = [&](std::size_t c, double value) {
        for (unsigned k = Band; k >= 2; --k) last[c][k] = last[c][k - 1];
        last[c][1] = value;
    };
    for (std::uint64_t j = 0; j < std::min<std::uint64_t>(Band, m); ++j) {
        for (std::size_t c = 0; c < Count; ++c) {
            double sum = v[c][j];
            for (unsigned k = 1; k <= j; ++k) sum = sum - lower[c][j * Band + k - 1] * last[c][k];
            v[c][j] = sum;
            shift(c, sum);
        }
    }
    for (std::uint64_t j = Band; j < m; ++j) {
        for (std::size_t c = 0; c < Count; ++c) {
            const double* l = lower[c] + j * Band;
            double sum = v[c][j];
            for (unsigned k = Band; k >= 1; --k) sum = sum - l[k - 1] * last[c][k];
            v[c][j] = sum;
            shift(c, sum);
        }
    }
    for (auto& values : last) values.fill(0.0);
    for (std::uint64_t j = m; j-- > 0;) {
        for (std::size_t c = 0; c < Count; ++c) {
            double sum = v[c][j] * inverse[c][j];
            if (j + Band < m) {
                for (unsigned k = Band; k >= 1; --k) sum = sum - lower[c][(j + k) * Band + k - 1] * last[c][k];
            } else {
                for (unsigned k = 1; j + k < m; ++k) sum = sum - lower[c][(j + k) * Band + k - 1] * last[c][k];
            }
            v[c][j] = sum;
            shift(c, sum);
        }
    }
}

// Line t's right side in place of its values: b less the couplings to the other lines, as they stand, in one pass;
// a line missing past an end is read as zeros.
template <unsigned Reach>
void line_right_side(const LineSide& side, std::uint64_t t, const double* b, double* x) {
    const std::uint64_t m = side.length;
    std::array<const double*, 2 * Reach> from;
    std::array<double, 2 * Reach> c;
    for (unsigned a = 0; a < 2 * Reach; ++a) {
        const std::int64_t s = a < Reach ? static_cast<std::int64_t>(a) - Reach : static_cast<std::int64_t>(a) - Reach + 1;
        const std::int64_t other = static_cast<std::int64_t>(t) + s;
        const bool inside = other >= 0 && static_cast<std::uint64_t>(other) < side.lines;
        from[a] = inside ? x + static_cast<std::uint64_t>(other) * m : side.zeros.data();
        c[a] = inside ? side.cross[t * (2 * Reach + 1) + static_cast<std::uint64_t>(s + Reach)] : 0.0;
    }
    double* row = x + t * m;
    const double* given = b + t * m;
    for (std::uint64_t j = 0; j < m; ++j) {
        double sum = 0.0;
        for (unsigned a = 0; a < 2 * Reach; ++a) sum = sum + c[a] * from[a][j];
        row[j] = given[j] - sum;
    }
    if (side.first.empty()) return;
    const auto pair = [&](std::uint64_t other, double gain) {
        const double* from = x + other * m;
        if (side.keep.empty()) {
            for (std::uint64_t j = 0; j < m; ++j) row[j] = row[j] + gain * from[j];
            return;
        }
        const double* kept = side.keep.data();
        for (std::uint64_t j = 0; j < m; ++j) {
            if (kept[t * m + j] != 0.0 && kept[other * m + j] != 0.0) row[j] = row[j] + gain * from[j];
        }
    };
    if (t > 0) pair(t - 1, side.first[t - 1]);
    if (t + 1 < side.lines) pair(t + 1, side.first[t]);
}

// Lines reach + 1 apart do not meet, so the lines of one colour (t modulo reach + 1) are solved together, four at a
// time; a backward sweep takes the colours in the reverse order.
template <unsigned Band, unsigned Reach>
void sweep(const LineSide& side, const double* b, double* x, bool forward) {
    constexpr std::size_t together = 4;
    const std::uint64_t colours = side.reach + 1;
    for (std::uint64_t step = 0; step < colours; ++step) {
        const std::uint64_t colour = forward ? step : colours - 1 - step;
        std::uint64_t t = colour;
        for (; t + (together - 1) * colours < side.lines; t += together * colours) {
            std::array<std::uint64_t, together> lines;
            std::array<double*, together> rows;
            for (std::size_t c = 0; c < together; ++c) {
                lines[c] = t + c * colours;
                line_right_side<Reach>(side, lines[c], b, x);
                rows[c] = x + lines[c] * side.length;
            }
            substitute<Band, together>(side, lines, rows);
        }
        for (; t < side.lines; t += colours) {
            line_right_side<Reach>(side, t, b, x);
            substitute<Band, 1>(side, {t}, {x + t * side.length});
        }
    }
}

template <unsigned Band>
void sweep(const LineSide& side, const double* b, double* x, bool forward) {
    switch (side.reach) {
        case 1: return sweep<Band, 1>(side, b, x, forward);
        case 2: return sweep<Band, 2>(side, b, x, forward);
        default: return sweep<Band, 3>(side, b, x, forward);
    }
}

void sweep(const LineSide& side, const double* b, double* x, bool forward) {
    switch (side.band) {
        case 1: return sweep<1>(side, b, x, forward);
        case 2: return sweep<2>(side, b, x, forward);
        default: return sweep<3>(side, b, x, forward);
    }
}

// out (cols x rows) = in (rows x cols) transposed, in tiles that stay in cache.
void transpose(std::uint64_t rows, std::uint64_t cols, const double* in, double* out) {
    constexpr std::uint64_t tile = 8;
    for (std::uint64_t i0 = 0; i0 < rows; i0 += tile) {
        for (std::uint64_t j0 = 0; j0 < cols; j0 += tile) {
            const std::uint64_t i1 = std::min(rows, i0 + tile), j1 = std::min(cols, j0 + tile);
            for (std::uint64_t i = i0; i < i1; ++i) {
                for (std::uint64_t j = j0; j < j1; ++j) out[j * rows + i] = in[i * cols + j];
            }
        }
    }
}

// The couplings across the lines and the first differences between them.
void assign_cross(LineSide& side, const Axis& across, double first_lambda, std::span<const double> gains) {
    const auto reach = static_cast<std::int64_t>(side.reach);
    for (std::uint64_t t = 0; t < side.lines; ++t) {
        for (std::int64_t s = -reach; s <= reach; ++s) {
            const std::int64_t other = static_cast<std::int64_t>(t) + s;
            const bool inside = s != 0 && other >= 0 && static_cast<std::uint64_t>(other) < side.lines;
            side.cross[t * (2 * side.reach + 1) + static_cast<std::uint64_t>(s + reach)] = inside ? across.at(t, s) : 0.0;
        }
    }
    if (first_lambda == 0.0) {
        side.first.clear();
        return;
    }
    side.first.resize(side.lines - 1);
    for (std::uint64_t t = 0; t + 1 < side.lines; ++t) side.first[t] = first_lambda * FirstDifferences::gain(gains, t);
}

}  // namespace

void LineSide::resize(std::uint64_t line_count, std::uint64_t line_length, unsigned across, unsigned along) {
    lines = line_count, length = line_length, reach = across, band = along;
    const std::uint64_t n = lines * length;
    cross.resize(lines * (2 * reach + 1));
    zeros.assign(length, 0.0);
    first.reserve(lines);
    keep.reserve(n);
    lower.resize(n * band);
    inverse_pivot.resize(n);
}

void LineSmoother::resize(std::uint64_t grid_rows, std::uint64_t grid_cols, unsigned order_r, unsigned order_c) {
    rows.resize(grid_rows, grid_cols, order_r, order_c);
    cols.resize(grid_cols, grid_rows, order_c, order_r);
    x.resize(grid_rows * grid_cols);
    b.resize(grid_rows * grid_cols);
}

Status LineSmoother::setup(const GridSystem& s) {
    const UnevenGrid* uneven = s.uneven;
    const Axis across_rows{{s.rows, s.order_r}, uneven ? &uneven->rows : nullptr, s.lambda_r};
    const Axis along_rows{{s.cols, s.order_c}, uneven ? &uneven->cols : nullptr, s.lambda_c};
    const FirstDifferences& f = s.first;
    const auto diagonal = [&](std::uint64_t i, std::uint64_t j) {
        const double sum = s.weights[i * s.cols + j] + across_rows.at(i, 0) + along_rows.at(j, 0);
        return f.present() ? sum + f.diagonal(s.rows, s.cols, i, j) : sum;
    };
    const auto joins = [&](std::size_t k, std::size_t l) { return f.joins(k, l); };
    assign_cross(rows, across_rows, f.lambda_r, f.gain_r);
    assign_cross(cols, along_rows, f.lambda_c, f.gain_c);
    rows.keep.assign(f.keep.begin(), f.keep.end());
    cols.keep.resize(f.keep.size());
    if (!f.keep.empty()) transpose(s.rows, s.cols, f.keep.data(), cols.keep.data());
    const SideView row_view{s.cols, false, along_rows, f.lambda_c, f.gain_c};
    const SideView col_view{s.cols, true, across_rows, f.lambda_r, f.gain_r};
    const bool factored = factor_lines(rows, row_view, diagonal, joins) &&
                          factor_lines(cols, col_view, [&](std::uint64_t j, std::uint64_t i) { return diagonal(i, j); },
                                       joins);
    if (factored) return ok;
    return LinearSolveFailed{"2D Whittaker multigrid line smoother met a system that was not positive definite"};
}

void LineSmoother::pre_smooth(std::span<const double> given_b, std::span<double> given_x) {
    std::fill(given_x.begin(), given_x.end(), 0.0);
    transpose(rows.lines, rows.length, given_b.data(), b.data());
    sweep(rows, given_b.data(), given_x.data(), true);
    transpose(rows.lines, rows.length, given_x.data(), x.data());
    sweep(cols, b.data(), x.data(), true);
    transpose(cols.lines, cols.length, x.data(), given_x.data());
}

void LineSmoother::post_smooth(std::span<const double> given_b, std::span<double> given_x) {
    transpose(rows.lines, rows.length, given_x.data(), x.data());
    sweep(cols, b.data(), x.data(), false);
    transpose(cols.lines, cols.length, x.data(), given_x.data());
    sweep(rows, given_b.data(), given_x.data(), false);
}

}  // namespace quorvel::two_d::whittaker
