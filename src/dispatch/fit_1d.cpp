#include "fit.hpp"

#include "clipping/corner_cutting.hpp"
#include "clipping/interp_pts.hpp"
#include "clipping/rubberband.hpp"
#include "clipping/snip.hpp"
#include "core/numeric.hpp"
#include "masking.hpp"
#include "morphology/amormol.hpp"
#include "morphology/imor.hpp"
#include "morphology/jbcd.hpp"
#include "morphology/mor.hpp"
#include "morphology/mormol.hpp"
#include "morphology/mwmv.hpp"
#include "morphology/mpls.hpp"
#include "morphology/rolling_ball.hpp"
#include "morphology/tophat.hpp"
#include "morphology/window_estimate.hpp"
#include "polynomial/polynomial.hpp"
#include "polynomial_fit.hpp"
#include "pspline_fit.hpp"
#include "rules.hpp"
#include "smoothing/ipsa.hpp"
#include "smoothing/noise_median.hpp"
#include "smoothing/peak_filling.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::MethodId;

template <class Rule>
Result<FitReport> whittaker_into(std::span<const double> y, Mask mask, const Options& options, const Rule& rule,
                                 std::span<double> baseline, Scratch& scratch, Details* details) {
    const WhittakerRecord& record = options.whittaker;
    const whittaker::FitControls controls{mask, record.stop, details ? &details->history : nullptr,
                                          details ? &details->outer_iterations : nullptr};
    auto report = whittaker::fit_controlled(y, whittaker_params(record, options.x), rule, baseline,
                                            scratch.whittaker, controls);
    if (report && details) details->weights = scratch.whittaker.iter.weights;
    return report;
}

// The caller's window, or for 0 the one the data settle at (reported in `details`); non-finite data leave
// the error to the method.
std::uint64_t window_of(std::span<const double> y, const WindowRecord& record, Details* details) {
    if (record.half_window[0] != 0 || first_non_finite(y)) return record.half_window[0];
    const std::uint64_t half = morphology::estimate_half_window(y);
    if (details) details->half_window = {half, half};
    return half;
}

// peak_filling's half window left to the data: twice the window the subsampled values' openings settle at, as the
// reference library takes it.
std::uint64_t twice_the_estimate(std::span<const double> subsampled) {
    return 2 * morphology::estimate_half_window(subsampled);
}

// `y` holds finite stand-ins at the masked-out samples, which no method reads as data.
Result<FitReport> method_into(std::span<const double> y, Mask mask, const Options& options,
                              std::span<double> baseline, Scratch& scratch, Details* details) {
    const auto whittaker = [&](const auto& rule) {
        return whittaker_into(y, mask, options, rule, baseline, scratch, details);
    };
    auto* history = details ? &details->history : nullptr;
    const auto other = [&]() -> Result<FitReport> {
        switch (options.method) {
            case MethodId::RollingBall:
                return morphology::rolling_ball_into(y, 2 * options.window.half_window[0] + 1, baseline);
            case MethodId::Polynomial:
                if (!options.x.empty()) {
                    return polynomial::poly_on_x_into(y, options.x, options.polynomial.poly_order[0], mask, baseline);
                }
                if (mask.empty()) return polynomial::poly_into(y, options.polynomial.poly_order[0], baseline);
                return polynomial::poly_masked_into(y, options.polynomial.poly_order[0], mask, baseline);
            case MethodId::Tophat: return morphology::tophat_into(y, options.window.half_window[0], baseline);
            case MethodId::Snip: {
                ClippingRecord record = options.clipping;
                if (record.max_half_window[0] == 0) {
                    const std::uint64_t half = window_of(y, {}, details);
                    record.max_half_window = {half, half};
                }
                return clipping::snip_into(y, snip_params(record, {y.size(), y.size()}), baseline, scratch.snip);
            }
            case MethodId::Rubberband:
                return clipping::rubberband_into(y, options.x, mask, rubberband_params(options.clipping), baseline,
                                                 scratch.rubberband);
            case MethodId::Mor:
                return morphology::mor_into(y, window_of(y, options.window, details), baseline);
            case MethodId::Imor:
                return morphology::imor_into(y, window_of(y, options.window, details),
                                             {options.window.tol, options.window.max_iter}, baseline,
                                             details ? &details->history : nullptr);
            case MethodId::Amormol:
                return morphology::amormol_into(y, window_of(y, options.window, details),
                                                {options.window.tol, options.window.max_iter}, baseline,
                                                details ? &details->history : nullptr);
            case MethodId::Mormol:
                return morphology::mormol_into(y, window_of(y, options.window, details),
                                               options.window.smooth_half_window,
                                               {options.window.tol, options.window.max_iter}, baseline,
                                               details ? &details->history : nullptr);
            case MethodId::NoiseMedian: {
                // The reference library's default median window: twice the window the openings settle at.
                SmoothingRecord record = options.smoothing;
                if (record.half_window[0] == 0) {
                    const std::uint64_t half = 2 * window_of(y, {}, details);
                    record.half_window = {half, half};
                    if (details) details->half_window = record.half_window;
                }
                const auto params = noise_median_params(record, {y.size(), y.size()});
                return smoothing::noise_median_into(y, params, baseline, scratch.noise_median);
            }
            case MethodId::Poly:
            case MethodId::Modpoly:
            case MethodId::Imodpoly:
            case MethodId::PenalizedPoly:
            case MethodId::QuantReg: {
                const PolynomialRecord& r = options.polynomial;
                return polynomial_into({y, mask, 0, 0, options.x, {}, r.poly_order, r.max_cross}, options, baseline,
                                       scratch.polynomial, history);
            }
            case MethodId::Goldindec: {
                const PolynomialRecord& r = options.polynomial;
                return polynomial::goldindec_into({y, mask, 0, 0, options.x, {}, r.poly_order}, goldindec_params(r),
                                                  baseline, scratch.polynomial, history,
                                                  details ? &details->outer_iterations : nullptr);
            }
            case MethodId::Loess:
                return polynomial::loess_into(y, options.x, mask, loess_params(options.polynomial), baseline,
                                              scratch.loess, history);
            case MethodId::PeakFilling: {
                std::uint64_t decided = 0;
                auto report = smoothing::peak_filling_into(y, peak_filling_params(options.smoothing, y.size()),
                                                           baseline, scratch.peak_filling, twice_the_estimate,
                                                           &decided);
                if (report && details && options.smoothing.half_window[0] == 0) {
                    details->half_window = {decided, decided};
                }
                return report;
            }
            case MethodId::CornerCutting:
                return clipping::corner_cutting_into(y, options.x, mask, options.clipping.max_iter, baseline,
                                                     scratch.corner_cutting, details ? &details->history : nullptr);
            case MethodId::InterpPts:
                return clipping::interp_pts_into(y, options.x, options.clipping.points, options.clipping.interpolation,
                                                 baseline, scratch.interp_pts);
            case MethodId::Mwmv: {
                const std::uint64_t half = window_of(y, options.window, details);
                const std::uint64_t smooth = options.window.smooth_half_window;
                return morphology::mwmv_into(y, half, smooth == same_as_window ? half : smooth, baseline);
            }
            case MethodId::Mpls: {
                const auto& w = options.window;
                auto report = morphology::mpls_into(y, {window_of(y, w, details), w.lam, w.p, w.diff_order}, baseline,
                                                    scratch.mpls);
                if (report && details) details->weights = scratch.mpls.weights;
                return report;
            }
            case MethodId::Jbcd: {
                const auto& w = options.window;
                const morphology::JbcdParams params{window_of(y, w, details), w.alpha, w.beta, w.gamma,
                                                    w.beta_mult, w.gamma_mult, w.diff_order, w.max_iter, w.tol,
                                                    w.tol_2, w.robust_opening};
                return morphology::jbcd_into(y, params, baseline, scratch.jbcd, details ? &details->history : nullptr);
            }
            case MethodId::Ipsa: {
                // The reference library's default: four times the window the openings settle at.
                std::uint64_t half = options.smoothing.half_window[0];
                if (half == 0) {
                    half = 4 * window_of(y, {}, details);
                    if (details) details->half_window = {half, half};
                }
                const auto& s = options.smoothing;
                return smoothing::ipsa_into(y, {half, s.max_iter, s.tol}, baseline, scratch.ipsa,
                                            details ? &details->history : nullptr);
            }
            case MethodId::Ria: {
                const auto& s = options.smoothing;
                WindowRecord given{};
                given.half_window = s.half_window;
                const smoothing::RiaParams params{window_of(y, given, details), s.max_iter, s.tol, s.side,
                                                  s.width_scale, s.height_scale, s.sigma_scale};
                return smoothing::ria_into(y, params, baseline, scratch.ria, details ? &details->history : nullptr);
            }
            case MethodId::Swima:
                return smoothing::swima_into(y, swima_params(options.smoothing, y.size()), baseline, scratch.swima,
                                             history);
            case MethodId::PsplineAsls:
            case MethodId::PsplineArPls:
            case MethodId::PsplineAirPls:
            case MethodId::PsplineIarPls:
            case MethodId::PsplinePsalsa:
            case MethodId::PsplineDerPsalsa:
            case MethodId::PsplineLsrPls:
            case MethodId::PsplineBrPls:
            case MethodId::PsplineDrPls:
            case MethodId::PsplineIasls:
            case MethodId::PsplineAsPls:
            case MethodId::MixtureModel:
            case MethodId::Irsqr:
            case MethodId::PsplineMpls: return pspline_into(y, mask, options, baseline, scratch, details);
            case MethodId::Asls:
            case MethodId::ArPls:
            case MethodId::AirPls:
            case MethodId::Iasls:
            case MethodId::DrPls:
            case MethodId::IarPls:
            case MethodId::AsPls:
            case MethodId::Psalsa:
            case MethodId::DerPsalsa:
            case MethodId::BrPls:
            case MethodId::LsrPls: break;
        }
        return Unsupported{"method", "not a method of spectra"};
    };
    return with_rule<1>(options, whittaker, other);
}

// What stands in for the masked-out samples: the windows and the clipping read every sample, so they get the
// straight lines between used ones; the reweighted methods give those samples no weight.
Result<std::span<const double>> stand_ins(std::span<const double> y, Mask mask, const Options& options,
                                          Scratch& scratch) {
    auto& stand_in = scratch.stand_in;
    stand_in.resize(y.size());
    switch (catalogue::row(options.method).family) {
        case catalogue::Family::Morphology:
        case catalogue::Family::Clipping:
        case catalogue::Family::Smoothing:
            if (used_count(y.size(), mask) == 0) return InvalidParameter{"mask", "must keep at least one sample"};
            bridge_masked(y, mask, stand_in);
            return std::span<const double>(stand_in);
        case catalogue::Family::Pspline:
            if (options.method == MethodId::PsplineMpls) {
                // The opening reads every sample; the spline then leaves the masked ones out.
                bridge_masked(y, mask, stand_in);
                return std::span<const double>(stand_in);
            }
            zero_masked(y, mask, stand_in);
            return std::span<const double>(stand_in);
        case catalogue::Family::Whittaker: zero_masked(y, mask, stand_in); return std::span<const double>(stand_in);
        case catalogue::Family::Polynomial:
            // The polynomial never reads a masked-out sample; the iterated fits clip every sample.
            if (options.method == MethodId::Polynomial) return y;
            zero_masked(y, mask, stand_in);
            return std::span<const double>(stand_in);
    }
    return y;
}

Result<FitReport> masked_into(std::span<const double> y, Mask mask, const Options& options,
                              std::span<double> baseline, Scratch& scratch, Details* details) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (auto bad = first_non_finite_used(y, mask)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    const auto fitted = stand_ins(y, mask, options, scratch);
    if (!fitted) return fitted.error();
    // The windows' bridged stand-ins make the mask itself unnecessary; the rubber band keeps masked-out samples
    // off its hull.
    const auto family = catalogue::row(options.method).family;
    const bool bridged = family == catalogue::Family::Morphology || family == catalogue::Family::Smoothing;
    return method_into(fitted.value(), bridged ? Mask{} : mask, options, baseline, scratch, details);
}

}  // namespace

Result<FitReport> fit_1d_into(std::span<const double> y, Mask mask, const Options& options,
                              std::span<double> baseline, Scratch& scratch, Details* details) {
    if (!mask.empty()) return masked_into(y, mask, options, baseline, scratch, details);
    return method_into(y, Mask{}, options, baseline, scratch, details);
}

}  // namespace quorvel::dispatch
