#include "quant_reg.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel::polynomial {
namespace {

Status check(const QuantRegParams& params) {
    if (auto limits = check_limits(params.limits); !limits) return limits.error();
    if (!(params.quantile > 0.0 && params.quantile < 1.0)) return InvalidParameter{"quantile", "must be in (0, 1)"};
    if (!std::isnan(params.eps) && !(params.eps > 0.0 && std::isfinite(params.eps))) {
        return InvalidParameter{"eps", "must be a finite number above 0"};
    }
    return ok;
}

double eps_of(const QuantRegParams& params, std::span<const double> fit, std::span<const double> used) {
    if (!std::isnan(params.eps)) return params.eps;
    double largest = 0.0;
    for (std::size_t i = 0; i < fit.size(); ++i) {
        if (used[i] > 0.0) largest = std::max(largest, std::fabs(fit[i]));
    }
    // A fit of zeros (data of zeros) would give weights of 1 / 0.
    const double scaled = 1e-6 * largest;
    return std::max(scaled * scaled, std::numeric_limits<double>::min());
}

void reweight(std::span<const double> y, const QuantRegParams& params, std::span<const double> fit, FitWorkspace& ws) {
    const double eps = eps_of(params, fit, ws.used);
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - fit[i];
        const double side = r > 0.0 ? params.quantile : 1.0 - params.quantile;
        ws.weights[i] = ws.used[i] > 0.0 ? side / std::sqrt(r * r + eps) : 0.0;
    }
}

}  // namespace

Result<FitReport> quant_reg_into(const Problem& problem, const QuantRegParams& params, std::span<double> out,
                                 FitWorkspace& ws, std::vector<double>* history) {
    if (history) history->clear();
    const std::span<const double> y = problem.y;
    if (auto ready = prepare(problem, out, "quant_reg", ws); !ready) return ready.error();
    if (auto valid = check(params); !valid) return valid.error();
    std::copy(y.begin(), y.end(), out.begin());  // the first weights compare the data with itself
    FitReport report{};
    for (std::uint64_t iteration = 1;; ++iteration) {
        reweight(y, params, out, ws);
        if (auto built = refit(ws); !built) return built.error();
        const double change = fit_tracking(ws, y, out);
        if (finish_iteration(change, iteration, params.limits, report, history)) return report;
    }
}

}  // namespace quorvel::polynomial
