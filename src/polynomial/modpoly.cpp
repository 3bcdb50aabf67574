#include "modpoly.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel::polynomial {
namespace {

Status start(const Problem& problem, const ModpolyParams& params, std::span<double> out, const char* method,
             FitWorkspace& ws) {
    if (auto ready = prepare(problem, out, method, ws); !ready) return ready.error();
    if (auto limits = check_limits(params.limits); !limits) return limits.error();
    if (!(params.num_std >= 0.0) || std::isinf(params.num_std)) {
        return InvalidParameter{"num_std", "must be a finite number at least 0"};
    }
    return refit(ws);
}

// The first fit, in `out`, and its residuals' deviation; with mask_initial_peaks the samples above the fit
// plus that deviation leave every later fit (the first fit stays the starting point).
Result<double> first_fit(std::span<const double> y, const ModpolyParams& params, std::span<double> out,
                         FitWorkspace& ws) {
    fit_through(ws, y, out);
    const double deviation = used_deviation(y, out, ws.used);
    ws.work.assign(y.begin(), y.end());
    if (!params.mask_initial_peaks) return deviation;
    std::uint64_t kept = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (out[i] + deviation < y[i]) ws.weights[i] = 0.0;
        kept += ws.weights[i] > 0.0 ? 1 : 0;
    }
    // Too few samples left to pin the polynomial down: keep them all rather than fail a short spectrum.
    if (kept < term_count(ws)) {
        ws.weights = ws.used;
        return deviation;
    }
    if (auto built = refit(ws); !built) return built.error();
    return deviation;
}

// work = min(source, out + offset), where source is the data or the previous clipped data.
void clip(std::span<const double> y, const ModpolyParams& params, std::span<const double> out, double offset,
          FitWorkspace& ws) {
    const std::span<const double> source = params.use_original ? y : std::span<const double>(ws.work);
    for (std::size_t i = 0; i < y.size(); ++i) ws.work[i] = std::min(source[i], out[i] + offset);
}

double deviation_change(double old, double now) {
    if (now > 0.0) return std::fabs(now - old) / now;
    return now == old ? 0.0 : std::numeric_limits<double>::infinity();
}

}  // namespace

Result<FitReport> modpoly_into(const Problem& problem, const ModpolyParams& params, std::span<double> out,
                               FitWorkspace& ws, std::vector<double>* history) {
    if (history) history->clear();
    const std::span<const double> y = problem.y;
    if (auto ready = start(problem, params, out, "modpoly", ws); !ready) return ready.error();
    if (auto first = first_fit(y, params, out, ws); !first) return first.error();
    FitReport report{};
    for (std::uint64_t iteration = 1;; ++iteration) {
        clip(y, params, out, 0.0, ws);
        const double change = fit_tracking(ws, ws.work, out);
        if (finish_iteration(change, iteration, params.limits, report, history)) return report;
    }
}

Result<FitReport> imodpoly_into(const Problem& problem, const ModpolyParams& params, std::span<double> out,
                                FitWorkspace& ws, std::vector<double>* history) {
    if (history) history->clear();
    const std::span<const double> y = problem.y;
    if (auto ready = start(problem, params, out, "imodpoly", ws); !ready) return ready.error();
    auto first = first_fit(y, params, out, ws);
    if (!first) return first.error();
    double deviation = first.value();
    FitReport report{};
    for (std::uint64_t iteration = 1;; ++iteration) {
        clip(y, params, out, params.num_std * deviation, ws);
        fit_through(ws, ws.work, out);
        const double now = used_deviation(ws.work, out, ws.used);
        const double change = deviation_change(deviation, now);
        deviation = now;
        if (finish_iteration(change, iteration, params.limits, report, history)) return report;
    }
}

}  // namespace quorvel::polynomial
