#include "goldindec.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel::polynomial {
namespace {

Status check(const GoldindecParams& params) {
    if (auto common = check_half_quadratic(params.fit); !common) return common.error();
    switch (params.fit.cost) {
        case CostFunction::AsymmetricIndec:
        case CostFunction::AsymmetricTruncatedQuadratic:
        case CostFunction::AsymmetricHuber: break;
        case CostFunction::SymmetricTruncatedQuadratic:
        case CostFunction::SymmetricHuber:
        case CostFunction::SymmetricIndec: return InvalidParameter{"cost_function", "must be an asymmetric cost"};
    }
    if (!(params.peak_ratio > 0.0 && params.peak_ratio < 1.0)) {
        return InvalidParameter{"peak_ratio", "must be in (0, 1)"};
    }
    if (!(params.tol_2 >= 0.0)) return InvalidParameter{"tol_2", "must be at least 0"};
    if (!(params.tol_3 >= 0.0)) return InvalidParameter{"tol_3", "must be at least 0"};
    if (params.max_iter_2 == 0) return InvalidParameter{"max_iter_2", "must be at least 1"};
    return ok;
}

// Samples above the fit over those below, among the used ones; infinite with none below.
double up_down_ratio(std::span<const double> y, std::span<const double> fit, std::span<const double> used) {
    std::uint64_t up = 0, down = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (used[i] <= 0.0) continue;
        up += y[i] > fit[i] ? 1 : 0;
        down += y[i] < fit[i] ? 1 : 0;
    }
    if (down == 0) return std::numeric_limits<double>::infinity();
    return static_cast<double>(up) / static_cast<double>(down);
}

double largest_residual(std::span<const double> y, std::span<const double> fit, std::span<const double> used) {
    double largest = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (used[i] > 0.0) largest = std::max(largest, y[i] - fit[i]);
    }
    return largest;
}

}  // namespace

double goldindec_up_down_target(double p) { return 0.7679 + 11.2358 * p - 39.7064 * p * p + 92.3583 * p * p * p; }

Result<FitReport> goldindec_into(const Problem& problem, const GoldindecParams& params, std::span<double> out,
                                 FitWorkspace& ws, std::vector<double>* history, std::uint64_t* outer) {
    if (history) history->clear();
    if (outer) *outer = 0;
    const std::span<const double> y = problem.y;
    if (auto ready = prepare(problem, out, "goldindec", ws); !ready) return ready.error();
    if (auto valid = check(params); !valid) return valid.error();
    if (auto built = refit(ws); !built) return built.error();
    fit_through(ws, y, out);
    ws.previous.assign(out.begin(), out.end());  // every threshold's fit starts here
    const double target = goldindec_up_down_target(params.peak_ratio);
    constexpr double golden = 0.618;
    double low = 0.0, high = largest_residual(y, out, ws.used);
    double threshold = low + golden * (high - low);
    std::uint64_t iterations = 0;
    FitReport last{};
    for (std::uint64_t tried = 1;; ++tried) {
        std::copy(ws.previous.begin(), ws.previous.end(), out.begin());
        last = half_quadratic_fit(y, params.fit, threshold, out, ws, history);
        iterations += last.iterations;
        if (outer) *outer = tried;
        const double miss = up_down_ratio(y, out, ws.used) - target;
        bool settled = std::fabs(miss) < params.tol_2;
        if (!settled) {
            // Too few samples above: the threshold lets the peaks pull the baseline up, so it must come down.
            (miss < 0.0 ? high : low) = threshold;
            const double next = low + golden * (high - low);
            settled = std::fabs(next - threshold) < params.tol_3 * threshold;
            threshold = next;
        }
        if (settled || tried >= params.max_iter_2) {
            return FitReport{iterations, last.last_change, settled && last.converged};
        }
    }
}

}  // namespace quorvel::polynomial
