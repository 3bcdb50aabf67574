#include "penalized_poly.hpp"

#include <cmath>

#include "core/deviation.hpp"

namespace quorvel::polynomial {
namespace {

Status check(const PenalizedPolyParams& params) {
    if (auto common = check_half_quadratic(params); !common) return common.error();
    if (!std::isnan(params.threshold) && !(params.threshold > 0.0 && std::isfinite(params.threshold))) {
        return InvalidParameter{"threshold", "must be a finite number above 0"};
    }
    return ok;
}

// The indec cost's pull beyond the threshold, -α s³ / (2 r |r|); a threshold of 0 (flat data) pulls nothing, even
// at r = 0.
double indec(double r, double s, double alpha) {
    return s == 0.0 ? 0.0 : -alpha * (s * s * s) / (2.0 * r * std::fabs(r));
}

// The data the next fit goes through, y + d, for residual r = y - fit (Mazet et al., Table 1).
double target(double y, double r, double s, double alpha, CostFunction cost) {
    const double quadratic = y + r * (2.0 * alpha - 1.0);
    switch (cost) {
        case CostFunction::AsymmetricTruncatedQuadratic: return r < s ? quadratic : y - r;
        case CostFunction::SymmetricTruncatedQuadratic: return std::fabs(r) < s ? quadratic : y - r;
        case CostFunction::AsymmetricHuber: return r < s ? quadratic : y - r + 2.0 * alpha * s;
        case CostFunction::SymmetricHuber:
            if (std::fabs(r) < s) return quadratic;
            return y - r + (r > 0.0 ? 2.0 * alpha * s : -2.0 * alpha * s);
        case CostFunction::AsymmetricIndec: return r < s ? quadratic : y - r + indec(r, s, alpha);
        case CostFunction::SymmetricIndec: return std::fabs(r) < s ? quadratic : y - r + indec(r, s, alpha);
    }
    return quadratic;
}

// The targets of every sample, one loop per cost so that none asks the cost again per sample.
template <CostFunction cost>
void fill_targets(std::span<const double> y, std::span<const double> fit, double s, double alpha,
                  std::span<double> out) {
    for (std::size_t i = 0; i < y.size(); ++i) out[i] = target(y[i], y[i] - fit[i], s, alpha, cost);
}

void targets(std::span<const double> y, std::span<const double> fit, double s, double alpha, CostFunction cost,
             std::span<double> out) {
    switch (cost) {
        case CostFunction::AsymmetricTruncatedQuadratic:
            return fill_targets<CostFunction::AsymmetricTruncatedQuadratic>(y, fit, s, alpha, out);
        case CostFunction::SymmetricTruncatedQuadratic:
            return fill_targets<CostFunction::SymmetricTruncatedQuadratic>(y, fit, s, alpha, out);
        case CostFunction::AsymmetricHuber: return fill_targets<CostFunction::AsymmetricHuber>(y, fit, s, alpha, out);
        case CostFunction::SymmetricHuber: return fill_targets<CostFunction::SymmetricHuber>(y, fit, s, alpha, out);
        case CostFunction::AsymmetricIndec: return fill_targets<CostFunction::AsymmetricIndec>(y, fit, s, alpha, out);
        case CostFunction::SymmetricIndec: return fill_targets<CostFunction::SymmetricIndec>(y, fit, s, alpha, out);
    }
}

// The reference library's default: a tenth of the data's standard deviation.
double threshold_of(const Problem& problem, const PenalizedPolyParams& params) {
    if (!std::isnan(params.threshold)) return params.threshold;
    return 0.1 * quorvel::used_deviation(problem.y, problem.mask);
}

}  // namespace

Status check_half_quadratic(const PenalizedPolyParams& params) {
    if (auto limits = check_limits(params.limits); !limits) return limits.error();
    if (!(params.alpha_factor > 0.0 && params.alpha_factor <= 1.0)) {
        return InvalidParameter{"alpha_factor", "must be in (0, 1]"};
    }
    return ok;
}

FitReport half_quadratic_fit(std::span<const double> y, const PenalizedPolyParams& params, double s,
                             std::span<double> out, FitWorkspace& ws, std::vector<double>* history) {
    const double alpha = 0.5 * params.alpha_factor;
    ws.work.resize(y.size());
    FitReport report{};
    for (std::uint64_t iteration = 1;; ++iteration) {
        targets(y, out, s, alpha, params.cost, ws.work);
        const double change = fit_tracking(ws, ws.work, out);
        if (finish_iteration(change, iteration, params.limits, report, history)) return report;
    }
}

Result<FitReport> penalized_poly_into(const Problem& problem, const PenalizedPolyParams& params,
                                      std::span<double> out, FitWorkspace& ws, std::vector<double>* history) {
    if (history) history->clear();
    const std::span<const double> y = problem.y;
    if (auto ready = prepare(problem, out, "penalized_poly", ws); !ready) return ready.error();
    if (auto valid = check(params); !valid) return valid.error();
    if (auto built = refit(ws); !built) return built.error();
    fit_through(ws, y, out);
    return half_quadratic_fit(y, params, threshold_of(problem, params), out, ws, history);
}

}  // namespace quorvel::polynomial
