#include "morphology.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "../morphology/extrema.hpp"

namespace quorvel::two_d::morphology {
namespace {

using quorvel::morphology::reflect_index;

std::size_t reflected(std::uint64_t centre, std::uint64_t half, std::uint64_t offset, std::uint64_t n) {
    return reflect_index(static_cast<std::int64_t>(centre) - static_cast<std::int64_t>(half) +
                             static_cast<std::int64_t>(offset),
                         n);
}

// Row pass into temp, then column pass into out; `pick` is fmin or fmax, so NaN is ignored.
template <class Pick>
void separable_extremum(std::span<const double> input, std::uint64_t rows, std::uint64_t cols, std::uint64_t hr,
                        std::uint64_t hc, std::span<double> temp, std::span<double> out, double start,
                        Pick pick) {
    if (rows == 0 || cols == 0) return;
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            double value = start;
            for (std::size_t dc = 0; dc <= 2 * hc; ++dc) value = pick(value, input[r * cols + reflected(c, hc, dc, cols)]);
            temp[r * cols + c] = value;
        }
    }
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            double value = start;
            for (std::size_t dr = 0; dr <= 2 * hr; ++dr) value = pick(value, temp[reflected(r, hr, dr, rows) * cols + c]);
            out[r * cols + c] = value;
        }
    }
}

void box_mean_reflect(std::span<const double> input, std::uint64_t rows, std::uint64_t cols, std::uint64_t hr,
                      std::uint64_t hc, std::span<double> out) {
    const double count = static_cast<double>((2 * hr + 1) * (2 * hc + 1));
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            double sum = 0.0;
            for (std::size_t dr = 0; dr <= 2 * hr; ++dr) {
                const std::size_t row = reflected(r, hr, dr, rows) * cols;
                for (std::size_t dc = 0; dc <= 2 * hc; ++dc) sum = sum + input[row + reflected(c, hc, dc, cols)];
            }
            out[r * cols + c] = sum / count;
        }
    }
}

}  // namespace

void moving_min_reflect_with_workspace(std::span<const double> input, std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t hr, std::uint64_t hc, std::span<double> temp,
                                       std::span<double> out) {
    separable_extremum(input, rows, cols, hr, hc, temp, out, std::numeric_limits<double>::infinity(),
                       [](double a, double b) { return std::fmin(a, b); });
}

void moving_max_reflect_with_workspace(std::span<const double> input, std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t hr, std::uint64_t hc, std::span<double> temp,
                                       std::span<double> out) {
    separable_extremum(input, rows, cols, hr, hc, temp, out, -std::numeric_limits<double>::infinity(),
                       [](double a, double b) { return std::fmax(a, b); });
}

Result<FitReport> rolling_ball_into(const Grid& data, std::uint64_t window_rows, std::uint64_t window_cols,
                                    const GridOut& output) {
    if (window_rows == 0) return InvalidParameter{"window_rows", "must be greater than zero"};
    if (window_cols == 0) return InvalidParameter{"window_cols", "must be greater than zero"};
    if (!same_shape(data, output)) return output_mismatch(data, output);

    const std::uint64_t hr = window_rows / 2, hc = window_cols / 2;
    const std::size_t n = data.data.size();
    std::vector<double> temp(n, 0.0), eroded(n, 0.0), opened(n, 0.0);
    moving_min_reflect_with_workspace(data.data, data.rows, data.cols, hr, hc, temp, eroded);
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
