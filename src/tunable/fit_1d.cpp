#include "fit.hpp"

#include "../morphology/rolling_ball.hpp"
#include "../polynomial/polynomial.hpp"
#include "../whittaker/airpls.hpp"
#include "../whittaker/arpls.hpp"
#include "../whittaker/asls.hpp"
#include "masking.hpp"

namespace quorvel::tunable {
namespace {

using simple::Method;

template <whittaker::Reweighter Rule>
Result<FitReport> whittaker_into(std::span<const double> y, Mask mask, const Options1D& options, const Rule& rule,
                                 std::span<double> baseline, Scratch& scratch, Details* details) {
    const whittaker::FitControls controls{mask, options.stop, details ? &details->history : nullptr};
    auto report = whittaker::fit_controlled(y, options.whittaker, rule, baseline, scratch.whittaker, controls);
    if (report && details) details->weights = scratch.whittaker.iter.weights;
    return report;
}

Result<FitReport> whittaker_into(std::span<const double> y, Mask mask, const Options1D& options,
                                 std::span<double> baseline, Scratch& scratch, Details* details) {
    switch (options.method.kind) {
        case Method::Asls:
            return whittaker_into(y, mask, options, whittaker::AslsWeights{options.p}, baseline, scratch, details);
        case Method::ArPls:
            return whittaker_into(y, mask, options, whittaker::ArPlsWeights{}, baseline, scratch, details);
        default:
            return whittaker_into(y, mask, options, whittaker::AirPlsWeights{}, baseline, scratch, details);
    }
}

Result<FitReport> masked_into(std::span<const double> y, Mask mask, const Options1D& options,
                              std::span<double> baseline, Scratch& scratch, Details* details) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (auto bad = first_non_finite_used(y, mask)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    auto& stand_in = scratch.stand_in;
    stand_in.resize(n);
    switch (options.method.kind) {
        case Method::RollingBall:
            if (used_count(n, mask) == 0) return InvalidParameter{"mask", "must keep at least one sample"};
            bridge_masked(y, mask, stand_in);
            return morphology::rolling_ball_into(stand_in, options.window_size, baseline);
        case Method::Polynomial: return polynomial::poly_masked_into(y, options.order, mask, baseline);
        default:
            zero_masked(y, mask, stand_in);
            return whittaker_into(stand_in, mask, options, baseline, scratch, details);
    }
}

}  // namespace

Result<FitReport> fit_1d_into(std::span<const double> y, Mask mask, const Options1D& options,
                              std::span<double> baseline, Scratch& scratch, Details* details) {
    if (!mask.empty()) return masked_into(y, mask, options, baseline, scratch, details);
    switch (options.method.kind) {
        case Method::RollingBall: return morphology::rolling_ball_into(y, options.window_size, baseline);
        case Method::Polynomial: return polynomial::poly_into(y, options.order, baseline);
        default: return whittaker_into(y, Mask{}, options, baseline, scratch, details);
    }
}

}  // namespace quorvel::tunable
