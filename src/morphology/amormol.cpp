#include "amormol.hpp"

#include <algorithm>
#include <cmath>

#include "averaged_opening.hpp"
#include "extrema.hpp"
#include "mollify.hpp"
#include "rolling_ball.hpp"
#include "simd/cpu.hpp"

namespace quorvel::morphology {
namespace {

// exp(-1 / (1 - x²)) at x = j / h for j = -h ... h (zero at both ends), summing to one.
std::vector<double> mollifier(std::size_t h) {
    std::vector<double> kernel(2 * h + 1, 0.0);
    double sum = 0.0;
    for (std::size_t j = 1; j < 2 * h; ++j) {
        const double x = (static_cast<double>(j) - static_cast<double>(h)) / static_cast<double>(h);
        kernel[j] = std::exp(-1.0 / (1.0 - x * x));
        sum += kernel[j];
    }
    for (double& k : kernel) k /= sum;
    return kernel;
}

// The kernel over x mirrored about its end samples (d c b | a b c d | c b a), into out, through `mirrored`.
void mollify(std::span<const double> x, std::span<const double> kernel, std::span<double> out,
             std::vector<double>& mirrored, MollifySums sums) {
    const std::size_t n = x.size(), h = kernel.size() / 2;
    mirrored.resize(n + 2 * h);
    for (std::size_t j = 0; j < mirrored.size(); ++j) {  // position j - h of x
        if (j < h) mirrored[j] = x[std::min(h - j, n - 1)];
        else if (j - h < n) mirrored[j] = x[j - h];
        else mirrored[j] = x[n - 1 - std::min(j - h - (n - 1), n - 1)];
    }
    sums(mirrored.data(), kernel.data(), h, out.data(), n);
}

}  // namespace

MollifySums mollify_sums() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return mollify_sums_avx2;
#endif
    return mollify_in_strips<2, 4>;
}

Result<FitReport> amormol_into(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                               std::span<double> baseline, std::vector<double>* history) {
    if (auto valid = check_iterated(y, half_window, params, baseline); !valid) return valid.error();
    const std::size_t n = y.size();

    const std::size_t width = 2 * half_window + 1;
    const std::vector<double> padded = pad_extrapolated(y, width), kernel = mollifier(width);
    std::vector<double> current = padded, next(padded.size()), opened(padded.size()), closed(padded.size()),
                        scratch(padded.size()), mirrored;
    const MollifySums sums = mollify_sums();
    FitReport report{0, 0.0, false};
    if (history) history->clear();
    for (std::uint64_t pass = 0; pass <= params.max_iter && !report.converged; ++pass) {
        moving_min_reflect(current, half_window, scratch);
        moving_max_reflect(scratch, half_window, opened);
        moving_max_reflect(current, half_window, scratch);
        moving_min_reflect(scratch, half_window, closed);
        for (std::size_t i = 0; i < padded.size(); ++i) {
            scratch[i] = std::min(padded[i], 0.5 * (closed[i] + opened[i]));
        }
        mollify(scratch, kernel, next, mirrored, sums);
        double distance2 = 0.0, norm2 = 0.0;
        for (std::size_t i = width; i < width + n; ++i) {
            distance2 += (next[i] - current[i]) * (next[i] - current[i]);
            norm2 += current[i] * current[i];
        }
        report.last_change = relative_distance(distance2, norm2);
        report.iterations = pass + 1;
        report.converged = report.last_change < params.tol;
        if (history) history->push_back(report.last_change);
        current.swap(next);
    }
    std::copy_n(current.begin() + static_cast<std::ptrdiff_t>(width), n, baseline.begin());
    return report;
}

}  // namespace quorvel::morphology
