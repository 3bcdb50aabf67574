#include "grid_transfer.hpp"

#include <algorithm>
#include <cmath>

namespace quorvel::two_d::whittaker {
namespace {

// Lagrange weights of the nodes lo .. lo + 3 at position x.
std::array<double, 4> cubic_taps(double x, std::uint64_t lo) {
    std::array<double, 4> taps{};
    for (std::uint64_t a = 0; a < 4; ++a) {
        double weight = 1.0;
        for (std::uint64_t b = 0; b < 4; ++b) {
            if (b == a) continue;
            weight = weight * (x - static_cast<double>(lo + b)) / (static_cast<double>(a) - static_cast<double>(b));
        }
        taps[a] = weight;
    }
    return taps;
}

// The two nearest coarse points, placed in the window of four that starts at `first`; the ends extrapolate.
std::array<double, 4> linear_taps(double x, std::uint64_t first, std::uint64_t coarse) {
    const double below = std::clamp(std::floor(x), 0.0, static_cast<double>(coarse - 2));
    const double fraction = x - below;
    std::array<double, 4> taps{};
    const std::uint64_t at = static_cast<std::uint64_t>(below) - first;
    taps[at] = 1.0 - fraction;
    taps[at + 1] = fraction;
    return taps;
}

// The transpose of the interpolation down the columns: out[a][j] = sum over fine rows i of
// tap(i, a) in[i][j]. `Tap` maps each interpolation weight first.
template <class Tap>
void scatter_rows(const AxisTransfer& rt, std::uint64_t cols, std::span<const double> in, std::span<double> out,
                  Tap tap) {
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(rt.coarse * cols), 0.0);
    for (std::uint64_t i = 0; i < rt.fine; ++i) {
        const double* src = in.data() + i * cols;
        for (std::uint64_t t = 0; t < 4; ++t) {
            const double c = tap(rt.taps[i][t]);
            if (c == 0.0) continue;
            double* dst = out.data() + (rt.first[i] + t) * cols;
            for (std::uint64_t j = 0; j < cols; ++j) dst[j] = dst[j] + c * src[j];
        }
    }
}

// The same along each row.
template <class Tap>
void scatter_cols(const AxisTransfer& ct, std::uint64_t rows, std::span<const double> in, std::span<double> out,
                  Tap tap) {
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(rows * ct.coarse), 0.0);
    for (std::uint64_t a = 0; a < rows; ++a) {
        const double* src = in.data() + a * ct.fine;
        double* dst = out.data() + a * ct.coarse;
        for (std::uint64_t j = 0; j < ct.fine; ++j) {
            double* to = dst + ct.first[j];
            for (std::uint64_t t = 0; t < 4; ++t) to[t] = to[t] + tap(ct.taps[j][t]) * src[j];
        }
    }
}

template <class Tap>
void restrict_with(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse,
                   std::span<double> scratch, Tap tap) {
    const std::uint64_t mid = t.rows.coarse * t.cols.fine;
    if (t.rows.identity()) {
        scatter_cols(t.cols, t.rows.fine, fine, coarse, tap);
    } else if (t.cols.identity()) {
        scatter_rows(t.rows, t.cols.fine, fine, coarse, tap);
    } else {
        scatter_rows(t.rows, t.cols.fine, fine, scratch.first(mid), tap);
        scatter_cols(t.cols, t.rows.coarse, scratch.first(mid), coarse, tap);
    }
}

}  // namespace

void AxisTransfer::build(std::uint64_t fine_length, bool halve, Interpolation kind) {
    fine = fine_length;
    coarse = halve ? (fine + 1) / 2 : fine;
    first.assign(fine, 0);
    taps.assign(fine, {0.0, 0.0, 0.0, 0.0});
    absolute_sums.assign(coarse, 0.0);
    if (identity()) return;
    const double offset = fine % 2 == 1 ? 0.0 : 0.5;
    for (std::uint64_t i = 0; i < fine; ++i) {
        const double x = (static_cast<double>(i) - offset) * 0.5;
        const double below = std::floor(x) - 1.0;
        const std::uint64_t lo = below <= 0.0 ? 0 : std::min(static_cast<std::uint64_t>(below), coarse - 4);
        switch (kind) {
            case Interpolation::cubic:
                first[i] = lo;
                taps[i] = cubic_taps(x, lo);
                break;
            case Interpolation::linear:
                first[i] = std::min(static_cast<std::uint64_t>(std::fmax(std::floor(x), 0.0)), coarse - 4);
                taps[i] = linear_taps(x, first[i], coarse);
                break;
        }
        for (std::uint64_t t = 0; t < 4; ++t) absolute_sums[first[i] + t] += std::fabs(taps[i][t]);
    }
}

void AxisTransfer::place(std::span<const double> t) {
    std::fill(absolute_sums.begin(), absolute_sums.end(), 0.0);
    for (std::uint64_t i = 0; i < fine; ++i) {
        std::array<double, 4> nodes{};
        for (std::uint64_t a = 0; a < 4; ++a) nodes[a] = coarse_position(t, first[i] + a);
        for (std::uint64_t a = 0; a < 4; ++a) {
            double weight = 1.0;
            for (std::uint64_t b = 0; b < 4; ++b) {
                if (b != a) weight = weight * (t[i] - nodes[b]) / (nodes[a] - nodes[b]);
            }
            taps[i][a] = weight;
            absolute_sums[first[i] + a] += std::fabs(weight);
        }
    }
}

void GridTransfer::build(std::uint64_t fine_rows, std::uint64_t fine_cols, bool halve_rows, bool halve_cols,
                         Interpolation kind) {
    rows.build(fine_rows, halve_rows && fine_rows >= min_coarsened_axis, kind);
    cols.build(fine_cols, halve_cols && fine_cols >= min_coarsened_axis, kind);
}

double GridTransfer::ratio() const {
    return (rows.identity() ? 1.0 : 2.0) * (cols.identity() ? 1.0 : 2.0);
}

void interpolate_add(const GridTransfer& t, std::span<const double> coarse, std::span<double> fine,
                     std::span<double> scratch) {
    const std::uint64_t fine_cols = t.cols.fine, coarse_rows = t.rows.coarse;
    // Along each coarse row first, into coarse rows x fine cols.
    std::span<const double> mid = coarse;
    if (!t.cols.identity()) {
        for (std::uint64_t a = 0; a < coarse_rows; ++a) {
            const double* src = coarse.data() + a * t.cols.coarse;
            double* dst = scratch.data() + a * fine_cols;
            for (std::uint64_t j = 0; j < fine_cols; ++j) {
                const double* c = src + t.cols.first[j];
                const auto& w = t.cols.taps[j];
                dst[j] = ((w[0] * c[0] + w[1] * c[1]) + w[2] * c[2]) + w[3] * c[3];
            }
        }
        mid = scratch.first(coarse_rows * fine_cols);
    }
    if (t.rows.identity()) {
        for (std::uint64_t k = 0; k < fine.size(); ++k) fine[k] = fine[k] + mid[k];
        return;
    }
    for (std::uint64_t i = 0; i < t.rows.fine; ++i) {
        const auto& w = t.rows.taps[i];
        const double* c0 = mid.data() + t.rows.first[i] * fine_cols;
        const double *c1 = c0 + fine_cols, *c2 = c1 + fine_cols, *c3 = c2 + fine_cols;
        double* dst = fine.data() + i * fine_cols;
        for (std::uint64_t j = 0; j < fine_cols; ++j) {
            dst[j] = dst[j] + (((w[0] * c0[j] + w[1] * c1[j]) + w[2] * c2[j]) + w[3] * c3[j]);
        }
    }
}

void restrict_residual(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse,
                       std::span<double> scratch) {
    restrict_with(t, fine, coarse, scratch, [](double tap) { return tap; });
    const double scale = 1.0 / t.ratio();
    for (std::uint64_t k = 0; k < t.coarse_size(); ++k) coarse[k] = coarse[k] * scale;
}

void restrict_weights(const GridTransfer& t, std::span<const double> fine, std::span<double> coarse,
                      std::span<double> scratch) {
    restrict_with(t, fine, coarse, scratch, [](double tap) { return std::fabs(tap); });
    for (std::uint64_t a = 0; a < t.rows.coarse; ++a) {
        const double row_sum = t.rows.identity() ? 1.0 : t.rows.absolute_sums[a];
        for (std::uint64_t b = 0; b < t.cols.coarse; ++b) {
            const double col_sum = t.cols.identity() ? 1.0 : t.cols.absolute_sums[b];
            coarse[a * t.cols.coarse + b] = coarse[a * t.cols.coarse + b] / (row_sum * col_sum);
        }
    }
}

}  // namespace quorvel::two_d::whittaker
