#include "ipsa.hpp"

#include <algorithm>

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"
#include "savgol.hpp"

namespace quorvel::smoothing {
Result<FitReport> ipsa_into(std::span<const double> y, const IpsaParams& params, std::span<double> baseline,
                            IpsaWorkspace& work, std::vector<double>* history) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (params.half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    if (!(params.tol >= 0.0)) return InvalidParameter{"tol", "must be at least 0"};
    const std::size_t width = 2 * params.half_window + 1, total = n + 2 * width;
    work.padded.resize(total);
    pad_extrapolated_into(y, width, work.padded);
    work.baseline.assign(work.padded.begin(), work.padded.end());
    work.clipped.resize(total);
    QuadraticSmoother smoother(params.half_window, total);
    if (history) history->clear();
    FitReport report{0, 0.0, false};
    for (std::uint64_t pass = 0; pass <= params.max_iter; ++pass) {
        for (std::size_t i = 0; i < total; ++i) work.clipped[i] = std::min(work.padded[i], work.baseline[i]);
        smoother.smooth_nearest(work.clipped, work.clipped);
        const auto inner = [&](const std::vector<double>& v) { return std::span(v).subspan(width, n); };
        report.last_change = relative_change(inner(work.baseline), inner(work.clipped));
        report.iterations = pass + 1;
        if (history) history->push_back(report.last_change);
        work.baseline.swap(work.clipped);
        if (report.last_change < params.tol) {
            report.converged = true;
            break;
        }
    }
    std::copy_n(work.baseline.begin() + static_cast<std::ptrdiff_t>(width), n, baseline.begin());
    return report;
}

}  // namespace quorvel::smoothing
