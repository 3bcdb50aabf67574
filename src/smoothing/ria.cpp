#include "ria.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"

namespace quorvel::smoothing {
namespace {

// Outputs per block of the moving average, each block's first window summed afresh so rounding never drifts far.
constexpr std::size_t block = 256;

// The mean of e[t .. t + 2h] at outputs [first, first + count) by a running sum.
void running_mean(const double* e, std::size_t width, double scale, std::size_t first, std::size_t count,
                  double* out) {
    double sum = 0.0;
    for (std::size_t k = 0; k < width; ++k) sum += e[first + k];
    out[first] = sum * scale;
    for (std::size_t t = first + 1; t < first + count; ++t) {
        sum += e[t + width - 1] - e[t - 1];
        out[t] = sum * scale;
    }
}

// out[t] = the mean of e[t .. t + 2h] (e has out.size() + 2h values). Four blocks advance together, so that their
// running sums, each a chain of dependent additions, overlap.
void moving_mean(std::span<const double> e, std::size_t h, std::span<double> out) {
    const std::size_t width = 2 * h + 1, n = out.size();
    const double scale = 1.0 / static_cast<double>(width);
    std::size_t first = 0;
    for (; first + 4 * block <= n; first += 4 * block) {
        std::array<double, 4> sums{};
        for (std::size_t c = 0; c < 4; ++c) {
            for (std::size_t k = 0; k < width; ++k) sums[c] += e[first + c * block + k];
            out[first + c * block] = sums[c] * scale;
        }
        for (std::size_t t = first + 1; t < first + block; ++t) {
            for (std::size_t c = 0; c < 4; ++c) {
                const std::size_t at = t + c * block;
                sums[c] += e[at + width - 1] - e[at - 1];
                out[at] = sums[c] * scale;
            }
        }
    }
    for (; first < n; first += block) {
        running_mean(e.data(), width, scale, first, std::min(block, n - first), out.data());
    }
}

double trapezoid(std::span<const double> v, std::span<const double> line) {
    double sum = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) sum += v[i] - line[i];
    return sum - 0.5 * ((v.front() - line.front()) + (v.back() - line.back()));
}

bool positive_finite(double value) { return std::isfinite(value) && value > 0.0; }

Status check(std::size_t n, const RiaParams& params) {
    if (params.half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    if (!(params.tol >= 0.0)) return InvalidParameter{"tol", "must be at least 0"};
    const double added = std::floor(params.width_scale * static_cast<double>(n));
    if (!positive_finite(params.width_scale) || added < 2.0 || added > 10.0 * static_cast<double>(n)) {
        return InvalidParameter{"width_scale", "must add from 2 to 10 times the data's length samples at an end"};
    }
    if (!positive_finite(params.height_scale)) return InvalidParameter{"height_scale", "must be finite and > 0"};
    if (!positive_finite(params.sigma_scale)) return InvalidParameter{"sigma_scale", "must be finite and > 0"};
    return ok;
}

}  // namespace

Result<FitReport> ria_into(std::span<const double> y, const RiaParams& params, std::span<double> baseline,
                           RiaWorkspace& work, std::vector<double>* history) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (auto checked = check(n, params); !checked) return checked.error();
    const double height = params.height_scale * *std::max_element(y.begin(), y.end());
    if (!positive_finite(height)) {
        return InvalidParameter{"height_scale", "times the data's largest value must be finite and > 0: the added "
                                                "peaks must stand above their lines; shift the data up"};
    }
    const auto added = static_cast<std::size_t>(params.width_scale * static_cast<double>(n));
    const bool left = params.side != RiaSide::Right, right = params.side != RiaSide::Left;
    const std::size_t h = params.half_window, first = left ? added : 0;
    const std::size_t total = n + (left ? added : 0) + (right ? added : 0);
    work.padded.resize(n + 2 * added);
    pad_extrapolated_into(y, added, work.padded);
    work.line.assign(work.padded.begin() + static_cast<std::ptrdiff_t>(added - first),
                     work.padded.begin() + static_cast<std::ptrdiff_t>(added - first + total));
    work.gaussian.resize(added);
    const double middle = 0.5 * static_cast<double>(added - 1);
    const double sigma = params.sigma_scale * static_cast<double>(added - 1);
    for (std::size_t i = 0; i < added; ++i) {
        const double u = (static_cast<double>(i) - middle) / sigma;
        work.gaussian[i] = height * std::exp(-0.5 * u * u);
    }
    work.data = work.line;
    std::span<double> data(work.data);
    const std::span<const double> line(work.line), gaussian(work.gaussian);
    if (left) std::transform(gaussian.begin(), gaussian.end(), data.begin(), data.begin(), std::plus<>());
    if (right) std::transform(gaussian.begin(), gaussian.end(), data.end() - added, data.end() - added, std::plus<>());
    double gaussian_area = 0.0;
    for (const double g : gaussian) gaussian_area += g;
    const double ends = (left ? 1.0 : 0.0) + (right ? 1.0 : 0.0);
    gaussian_area = (gaussian_area - 0.5 * (gaussian.front() + gaussian.back())) * ends;
    // The lines past the extended data's ends stay those of its first and last two samples.
    work.padded.resize(total + 2 * h);
    pad_extrapolated_into(data, h, work.padded, 2);
    work.smooth.resize(total);
    const std::span<double> smooth(work.smooth), padded_middle = std::span(work.padded).subspan(h, total);
    if (history) history->clear();
    FitReport report{0, 0.0, false};
    for (std::uint64_t pass = 0; pass < params.max_iter; ++pass) {
        moving_mean(work.padded, h, smooth);
        double area = 0.0;
        if (left) area += trapezoid(smooth.first(added), line.first(added));
        if (right) area += trapezoid(smooth.last(added), line.last(added));
        const double share = area / gaussian_area;
        report.last_change = std::fabs(share);
        report.iterations = pass + 1;
        if (history) history->push_back(report.last_change);
        if (share < params.tol) {
            report.converged = share > -params.tol;
            std::copy_n(smooth.begin() + static_cast<std::ptrdiff_t>(first), n, baseline.begin());
            return report;
        }
        for (std::size_t i = 0; i < total; ++i) padded_middle[i] = std::min(data[i], smooth[i]);
    }
    std::copy_n(padded_middle.begin() + static_cast<std::ptrdiff_t>(first), n, baseline.begin());
    return report;
}

}  // namespace quorvel::smoothing
