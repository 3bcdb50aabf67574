#include "morphology.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "morphology/extrema.hpp"

namespace quorvel::two_d::morphology {
namespace {

using quorvel::morphology::reflect_index;
using quorvel::morphology::sliding_extremum;

std::size_t reflected(std::uint64_t centre, std::uint64_t half, std::uint64_t offset, std::uint64_t n) {
    return reflect_index(static_cast<std::int64_t>(centre) - static_cast<std::int64_t>(half) +
                             static_cast<std::int64_t>(offset),
                         n);
}

// acc[c] = op(acc[c], row[reflect(c - hc + dc)]) for dc = 0 ... 2hc in turn, for every column.
// Columns whose window stays inside the row read it directly, a whole row at a time, so
// the compiler can run several columns in one vector register.
// Columns [lo, hi) whose window of 2hc + 1 stays inside a row of `cols`; empty when none does.
struct Columns {
    std::size_t lo, hi;
};
Columns interior_columns(std::uint64_t cols, std::uint64_t hc) {
    return cols > 2 * hc ? Columns{hc, cols - hc} : Columns{cols, cols};
}

template <class Op>
void fold_row_window(const double* row, std::uint64_t cols, std::uint64_t hc, double* acc, Op op) {
    const Columns interior = interior_columns(cols, hc);
    const std::size_t lo = interior.lo, hi = interior.hi;
    for (std::size_t dc = 0; dc <= 2 * hc; ++dc) {
        for (std::size_t c = lo; c < hi; ++c) acc[c] = op(acc[c], row[c + dc - hc]);
    }
    auto edge = [&](std::size_t c) {
        for (std::size_t dc = 0; dc <= 2 * hc; ++dc) acc[c] = op(acc[c], row[reflected(c, hc, dc, cols)]);
    };
    for (std::size_t c = 0; c < lo; ++c) edge(c);
    for (std::size_t c = hi; c < cols; ++c) edge(c);
}

// Windows longer than this use the sliding extremum; shorter ones are cheaper scanned
// directly, a whole row at a time.
constexpr std::uint64_t direct_scan_limit = 15;

// Row pass into temp, then column pass into out. A NaN never compares better, so it is
// ignored as minNum and maxNum require; only the sign of an extremal zero may differ from
// them, which no caller can observe (the box mean's sums start at +0).
template <class Better>
void separable_extremum(std::span<const double> input, std::uint64_t rows, std::uint64_t cols, std::uint64_t hr,
                        std::uint64_t hc, std::span<double> temp, std::span<double> out, double start,
                        Better better) {
    if (rows == 0 || cols == 0) return;
    auto pick = [better](double running, double v) { return better(v, running) ? v : running; };
    std::vector<double> scratch;
    if (2 * hc + 1 > direct_scan_limit) {
        for (std::size_t r = 0; r < rows; ++r) {
            const double* row = &input[r * cols];
            sliding_extremum<1, true>(cols, hc, 1, [row](std::size_t c) { return row + c; }, &temp[r * cols], 1, start,
                                better, scratch);
        }
    } else {
        std::fill(temp.begin(), temp.end(), start);
        for (std::size_t r = 0; r < rows; ++r) fold_row_window(&input[r * cols], cols, hc, &temp[r * cols], pick);
    }
    if (2 * hr + 1 > direct_scan_limit) {
        const double* grid = temp.data();
        sliding_extremum<0, true>(rows, hr, cols, [grid, cols](std::size_t r) { return grid + r * cols; }, out.data(), cols,
                            start, better, scratch);
        return;
    }
    std::fill(out.begin(), out.end(), start);
    for (std::size_t r = 0; r < rows; ++r) {
        double* acc = &out[r * cols];
        for (std::size_t dr = 0; dr <= 2 * hr; ++dr) {
            const double* src = &temp[reflected(r, hr, dr, rows) * cols];
            for (std::size_t c = 0; c < cols; ++c) acc[c] = pick(acc[c], src[c]);
        }
    }
}

void box_mean_reflect(std::span<const double> input, std::uint64_t rows, std::uint64_t cols, std::uint64_t hr,
                      std::uint64_t hc, std::span<double> out) {
    if (rows == 0 || cols == 0) return;
    const double count = static_cast<double>((2 * hr + 1) * (2 * hc + 1));
    const Columns interior = interior_columns(cols, hc);
    const std::size_t lo = interior.lo, hi = interior.hi;
    std::vector<const double*> window_rows(2 * hr + 1);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t dr = 0; dr <= 2 * hr; ++dr) window_rows[dr] = &input[reflected(r, hr, dr, rows) * cols];
        double* sums = &out[r * cols];
        // A strip of columns keeps its sums in registers through the whole window.
        constexpr std::size_t strip = 8;
        std::size_t c = lo;
        for (; c + strip <= hi; c += strip) {
            double acc[strip] = {};
            for (const double* row : window_rows) {
                for (std::size_t dc = 0; dc <= 2 * hc; ++dc) {
                    const double* src = row + c + dc - hc;
                    for (std::size_t u = 0; u < strip; ++u) acc[u] = acc[u] + src[u];
                }
            }
            for (std::size_t u = 0; u < strip; ++u) sums[c + u] = acc[u] / count;
        }
        auto reflected_column = [&](std::size_t col) {
            double sum = 0.0;
            for (const double* row : window_rows) {
                for (std::size_t dc = 0; dc <= 2 * hc; ++dc) sum = sum + row[reflected(col, hc, dc, cols)];
            }
            sums[col] = sum / count;
        };
        for (std::size_t col = 0; col < lo; ++col) reflected_column(col);
        for (; c < hi; ++c) reflected_column(c);
        for (std::size_t col = hi; col < cols; ++col) reflected_column(col);
    }
}

}  // namespace

void moving_min_reflect_with_workspace(std::span<const double> input, std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t hr, std::uint64_t hc, std::span<double> temp,
                                       std::span<double> out) {
    separable_extremum(input, rows, cols, hr, hc, temp, out, std::numeric_limits<double>::infinity(),
                       [](double a, double b) { return a < b; });
}

void moving_max_reflect_with_workspace(std::span<const double> input, std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t hr, std::uint64_t hc, std::span<double> temp,
                                       std::span<double> out) {
    separable_extremum(input, rows, cols, hr, hc, temp, out, -std::numeric_limits<double>::infinity(),
                       [](double a, double b) { return a > b; });
}

Result<FitReport> rolling_ball_into(const Grid& data, std::uint64_t window_rows, std::uint64_t window_cols,
                                    const GridOut& output) {
    if (window_rows == 0) return InvalidParameter{"window_rows", "must be greater than zero"};
    if (window_cols == 0) return InvalidParameter{"window_cols", "must be greater than zero"};
    if (!same_shape(data, output)) return output_mismatch(data, output);

    const std::uint64_t hr = window_rows / 2, hc = window_cols / 2;
    const std::size_t n = data.data.size();
    std::vector<double> temp(n, 0.0), eroded(n, 0.0);
    moving_min_reflect_with_workspace(data.data, data.rows, data.cols, hr, hc, temp, eroded);
    // The dilation's row pass has consumed the erosion before its column pass writes, so the
    // opening can take the erosion's storage.
    std::span<double> opened = eroded;
    moving_max_reflect_with_workspace(eroded, data.rows, data.cols, hr, hc, temp, opened);
    box_mean_reflect(opened, data.rows, data.cols, hr, hc, output.data);
    return single_pass;
}

Result<Fit> rolling_ball(const Grid& data, std::uint64_t window_rows, std::uint64_t window_cols) {
    const auto size = validate_shape(data.rows, data.cols);
    if (!size) return size.error();
    return fit_allocated(size.value(), [&](std::span<double> output) {
        return rolling_ball_into(data, window_rows, window_cols, GridOut{output, data.rows, data.cols});
    });
}

}  // namespace quorvel::two_d::morphology
