#include "modpoly.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel::polynomial {
namespace {

Status start(std::span<const double> y, std::span<const double> x, Mask mask, const ModpolyParams& params,
             std::span<double> out, const char* method, FitWorkspace& ws) {
    if (auto ready = prepare(y, x, mask, params.order, out, method, ws); !ready) return ready.error();
    if (auto limits = check_limits(params.limits); !limits) return limits.error();
    if (!(params.num_std >= 0.0) || std::isinf(params.num_std)) {
        return InvalidParameter{"num_std", "must be a finite number at least 0"};
    }
    return prepare_projector(ws.positions, ws.weights, params.order + 1, ws.projector);
}

// The first fit, in `out`, and its residuals' deviation; with mask_initial_peaks the samples above the fit
// plus that deviation leave every later fit (the first fit stays the starting point).
Result<double> first_fit(std::span<const double> y, const ModpolyParams& params, std::span<double> out,
                         FitWorkspace& ws) {
    project(ws.projector, ws.positions, ws.weights, y, out);
    const double deviation = used_deviation(y, out, ws.used);
    ws.work.assign(y.begin(), y.end());
    if (!params.mask_initial_peaks) return deviation;
    std::uint64_t kept = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (out[i] + deviation < y[i]) ws.weights[i] = 0.0;
        kept += ws.weights[i] > 0.0 ? 1 : 0;
    }
    // Too few samples left to pin the polynomial down: keep them all rather than fail a short spectrum.
    if (kept <= params.order) {
        ws.weights = ws.used;
        return deviation;
    }
    if (auto built = prepare_projector(ws.positions, ws.weights, params.order + 1, ws.projector); !built) {
        return built.error();
    }
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

Result<FitReport> modpoly_into(std::span<const double> y, std::span<const double> x, Mask mask,
                               const ModpolyParams& params, std::span<double> out, FitWorkspace& ws,
                               std::vector<double>* history) {
    if (auto ready = start(y, x, mask, params, out, "modpoly", ws); !ready) return ready.error();
    if (auto first = first_fit(y, params, out, ws); !first) return first.error();
    FitReport report{};
    for (std::uint64_t iteration = 1;; ++iteration) {
        clip(y, params, out, 0.0, ws);
        const double change = project_tracking(ws.projector, ws.positions, ws.weights, ws.work, out, ws.used);
        if (finish_iteration(change, iteration, params.limits, report, history)) return report;
    }
}

Result<FitReport> imodpoly_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                const ModpolyParams& params, std::span<double> out, FitWorkspace& ws,
                                std::vector<double>* history) {
    if (auto ready = start(y, x, mask, params, out, "imodpoly", ws); !ready) return ready.error();
    auto first = first_fit(y, params, out, ws);
    if (!first) return first.error();
    double deviation = first.value();
    FitReport report{};
    for (std::uint64_t iteration = 1;; ++iteration) {
        clip(y, params, out, params.num_std * deviation, ws);
        project(ws.projector, ws.positions, ws.weights, ws.work, out);
        const double now = used_deviation(ws.work, out, ws.used);
        const double change = deviation_change(deviation, now);
        deviation = now;
        if (finish_iteration(change, iteration, params.limits, report, history)) return report;
    }
}

}  // namespace quorvel::polynomial
