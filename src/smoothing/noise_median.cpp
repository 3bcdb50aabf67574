#include "noise_median.hpp"

#include <algorithm>
#include <cmath>

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"
#include "gaussian.hpp"
#include "moving_median.hpp"

namespace quorvel::smoothing {
namespace {

// Smooths each line of `count` values, `stride` apart, starting at data[starts(k)] for k < lines, in place.
template <class Start>
void smooth_lines(std::span<double> data, std::size_t lines, std::size_t count, std::size_t stride, Start starts,
                  NoiseMedianWorkspace& work) {
    work.line.resize(count);
    work.smoothed.resize(count);
    for (std::size_t k = 0; k < lines; ++k) {
        double* first = data.data() + starts(k);
        for (std::size_t i = 0; i < count; ++i) work.line[i] = first[i * stride];
        convolve_mirror(work.line, work.kernel, 0, work.smoothed, work.extended);
        for (std::size_t i = 0; i < count; ++i) first[i * stride] = work.smoothed[i];
    }
}

}  // namespace

Status check_noise_median(const NoiseMedianParams& params, std::array<std::uint64_t, 2> extents) {
    for (std::size_t axis = 0; axis < 2; ++axis) {
        const std::uint64_t half = params.half_window[axis];
        if (half == 0) return InvalidParameter{"half_window", "must be at least 1"};
        if (half > extents[axis]) return InvalidParameter{"half_window", "must be at most the data's length"};
    }
    if (params.smooth_half_window > std::max(extents[0], extents[1])) {
        return InvalidParameter{"smooth_half_window", "must be from 0 to the data's length"};
    }
    if (!std::isfinite(params.sigma) || params.sigma <= 0.0) {
        return InvalidParameter{"sigma", "must be positive and finite"};
    }
    return ok;
}

Result<FitReport> noise_median_into(std::span<const double> y, const NoiseMedianParams& params,
                                    std::span<double> baseline, NoiseMedianWorkspace& work) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (auto valid = check_noise_median(params, {n, n}); !valid) return valid.error();
    const std::size_t h = params.half_window[0];
    // The padded data with the median window's repeated ends, in one buffer that then takes the median.
    auto& z = work.padded;
    z.resize(n + 4 * h);
    const std::span<double> padded = std::span(z).subspan(h, n + 2 * h);
    pad_extrapolated_into(y, h, padded);
    std::fill_n(z.begin(), h, padded.front());
    std::fill_n(z.end() - static_cast<std::ptrdiff_t>(h), h, padded.back());
    const std::span<double> median = std::span(z).first(n + 2 * h);  // in place: one copy of the length fewer
    moving_median_repeated(z, h, median, work.median_work);
    gaussian_kernel(params.smooth_half_window, params.sigma, work.kernel);
    convolve_mirror(median, work.kernel, h, baseline, work.extended);
    return single_pass;
}

Result<FitReport> noise_median_into(const two_d::Grid& data, const NoiseMedianParams& params,
                                    const two_d::GridOut& output, NoiseMedianWorkspace& work) {
    if (!two_d::same_shape(data, output)) return two_d::output_mismatch(data, output);
    if (auto valid = check_noise_median(params, {data.rows, data.cols}); !valid) return valid.error();
    const std::size_t rows = data.rows, cols = data.cols;
    moving_median_nearest(data.data, rows, cols, params.half_window[0], params.half_window[1], output.data,
                          work.median_work);
    if (params.smooth_half_window == 0) return single_pass;
    gaussian_kernel(params.smooth_half_window, params.sigma, work.kernel);
    smooth_lines(output.data, rows, cols, 1, [cols](std::size_t r) { return r * cols; }, work);
    smooth_lines(output.data, cols, rows, cols, [](std::size_t c) { return c; }, work);
    return single_pass;
}

}  // namespace quorvel::smoothing
