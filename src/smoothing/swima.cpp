#include "swima.hpp"

#include <algorithm>
#include <numeric>

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"

namespace quorvel::smoothing {
namespace {

// out = the mean of 2h + 1 values of v about each sample, v reflected about its end samples (h < v.size()).
void reflected_average(std::span<const double> v, std::size_t h, std::span<double> out) {
    const std::size_t m = v.size();
    const auto at = [&](std::ptrdiff_t j) {
        const auto size = static_cast<std::ptrdiff_t>(m);
        return v[static_cast<std::size_t>(j < 0 ? -j - 1 : j >= size ? 2 * size - 1 - j : j)];
    };
    const double width = static_cast<double>(2 * h + 1);
    const auto half = static_cast<std::ptrdiff_t>(h);
    double sum = 0.0;
    for (std::ptrdiff_t j = -half; j <= half; ++j) sum += at(j);
    for (std::size_t i = 0; i < m; ++i) {
        out[i] = sum / width;
        const auto p = static_cast<std::ptrdiff_t>(i);
        sum += at(p + half + 1) - at(p - half);
    }
}

Status check(std::span<const double> y, const SwimaParams& params, std::span<double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (params.min_half_window == 0) return InvalidParameter{"min_half_window", "must be at least 1"};
    if (params.max_half_window == 0) return InputTooShort{n, "swima", 3};
    if (params.max_half_window >= n) return InvalidParameter{"max_half_window", "must be below the data's length"};
    if (params.smooth_half_window > n) return InvalidParameter{"smooth_half_window", "must be at most the length"};
    return ok;
}

}  // namespace

Result<FitReport> swima_into(std::span<const double> y, const SwimaParams& params, std::span<double> baseline,
                             SwimaWorkspace& work, std::vector<double>* history) {
    if (auto valid = check(y, params, baseline); !valid) return valid.error();
    if (history) history->clear();
    const std::size_t n = y.size(), pad = params.max_half_window, total = n + 2 * pad;
    work.last.resize(total);
    work.next.resize(total);
    pad_extrapolated_into(y, pad, work.last, pad);
    if (params.smooth_half_window > 0) {
        reflected_average(work.last, params.smooth_half_window, work.next);
        work.last.swap(work.next);
    }
    const auto area = [&](const std::vector<double>& v) {
        const auto first = v.begin() + static_cast<std::ptrdiff_t>(pad);
        return std::accumulate(first, first + static_cast<std::ptrdiff_t>(n), 0.0);
    };
    double before = 0.0, now = area(work.last), bend = 0.0;
    FitReport report{0, 0.0, false};
    for (std::uint64_t half = 1; half <= params.max_half_window; ++half) {
        reflected_average(work.last, half, work.next);
        for (std::size_t i = 0; i < total; ++i) work.next[i] = std::min(work.last[i], work.next[i]);
        const double after = area(work.next);
        const double next_bend = half >= 2 ? after - 2.0 * now + before : 0.0;
        if (half >= 3 && half - 1 >= params.min_half_window && bend > 0.0 && next_bend < 0.0) {
            report.converged = true;
            break;
        }
        work.last.swap(work.next);
        before = now, now = after, bend = next_bend;
        report = {half, bend, false};
        if (history) history->push_back(bend);
    }
    std::copy_n(work.last.begin() + static_cast<std::ptrdiff_t>(pad), n, baseline.begin());
    return report;
}

}  // namespace quorvel::smoothing
