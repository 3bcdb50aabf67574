#include "jbcd.hpp"

#include <algorithm>
#include <cmath>

#include "averaged_opening.hpp"
#include "core/numeric.hpp"
#include "linalg/difference_penalty.hpp"
#include "linalg/weighted_smooth.hpp"

namespace quorvel::morphology {
namespace {

bool finite_at_least_zero(double value) { return std::isfinite(value) && value >= 0.0; }

Status check(const JbcdParams& params) {
    if (params.half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (!finite_at_least_zero(params.alpha)) return InvalidParameter{"alpha", "must be finite and >= 0"};
    if (!finite_at_least_zero(params.beta)) return InvalidParameter{"beta", "must be finite and >= 0"};
    if (!finite_at_least_zero(params.gamma)) return InvalidParameter{"gamma", "must be finite and >= 0"};
    if (!std::isfinite(params.beta_mult) || params.beta_mult <= 0.0) {
        return InvalidParameter{"beta_mult", "must be finite and > 0"};
    }
    if (!std::isfinite(params.gamma_mult) || params.gamma_mult <= 0.0) {
        return InvalidParameter{"gamma_mult", "must be finite and > 0"};
    }
    if (params.diff_order == 0 || params.diff_order > linalg::max_difference_order) {
        return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
    }
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    if (!(params.tol >= 0.0)) return InvalidParameter{"tol", "must be at least 0"};
    if (!(params.tol_2 >= 0.0)) return InvalidParameter{"tol_2", "must be at least 0"};
    return ok;
}

void open(std::span<const double> y, const JbcdParams& params, JbcdWorkspace& work) {
    FlatSpectrum flat{params.half_window};
    work.opening.resize(y.size());
    if (params.robust_opening) {
        std::vector<double> plain;
        averaged_opening(flat, y, {}, work.opening, plain);
        return;
    }
    flat.erode(y, work.next_baseline);
    flat.dilate(work.next_baseline, work.opening);
}

}  // namespace

Result<FitReport> jbcd_into(std::span<const double> y, const JbcdParams& params, std::span<double> baseline,
                            JbcdWorkspace& work, std::vector<double>* history) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (auto checked = check(params); !checked) return checked.error();
    for (auto* buffer : {&work.signal, &work.next_signal, &work.next_baseline, &work.diagonal, &work.rhs}) {
        buffer->resize(n);
    }
    open(y, params, work);
    std::copy(work.opening.begin(), work.opening.end(), baseline.begin());
    std::copy(y.begin(), y.end(), work.signal.begin());
    if (history) history->clear();
    const auto order = static_cast<unsigned>(params.diff_order);
    const double two_alpha = 2.0 * params.alpha;
    double beta = params.beta, gamma = params.gamma;
    FitReport report{0, 0.0, false};
    for (std::uint64_t pass = 0; pass <= params.max_iter; ++pass) {
        std::fill(work.diagonal.begin(), work.diagonal.end(), 1.0);
        for (std::size_t i = 0; i < n; ++i) work.rhs[i] = y[i] - baseline[i];
        if (auto solved = linalg::penalised_solve(work.diagonal, work.rhs, gamma, order, work.next_signal, work.factor);
            !solved) {
            return solved.error();
        }
        std::fill(work.diagonal.begin(), work.diagonal.end(), 1.0 + two_alpha);
        for (std::size_t i = 0; i < n; ++i) work.rhs[i] = y[i] - work.next_signal[i] + two_alpha * work.opening[i];
        if (auto solved =
                linalg::penalised_solve(work.diagonal, work.rhs, 2.0 * beta, order, work.next_baseline, work.factor);
            !solved) {
            return solved.error();
        }
        const double signal_change = relative_change(work.signal, work.next_signal);
        report.last_change = relative_change(baseline, work.next_baseline);
        report.iterations = pass + 1;
        if (history) history->push_back(report.last_change);
        work.signal.swap(work.next_signal);
        std::copy(work.next_baseline.begin(), work.next_baseline.end(), baseline.begin());
        if (signal_change < params.tol && report.last_change < params.tol_2) {
            report.converged = true;
            break;
        }
        beta = beta * params.beta_mult;
        gamma = gamma * params.gamma_mult;
    }
    return report;
}

}  // namespace quorvel::morphology
