#include "pspline_fit.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "core/numeric.hpp"
#include "morphology/mpls.hpp"
#include "morphology/window_estimate.hpp"
#include "pspline/irsqr.hpp"
#include "pspline/mixture_model.hpp"
#include "pspline/pspline.hpp"
#include "pspline_rule.hpp"
#include "rules.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::MethodId;

// One fit's inputs.
struct Call {
    std::span<const double> y;
    Mask mask;
    const Options& options;
    std::span<double> baseline;
    Scratch& scratch;
    Details* details;

    const PsplineRecord& record() const { return options.pspline; }

    template <pspline::Reweighting Method>
    Result<FitReport> run(Method& method, const pspline::PsplineParams& params) const {
        auto report = pspline::fit_into(y, options.x, params, mask, method, baseline, scratch.pspline,
                                        details ? &details->history : nullptr);
        if (report && details) details->weights = scratch.pspline.weights;
        return report;
    }

    template <class Rule, class Terms = NoTerms>
    Result<FitReport> reweighted(Rule rule, Terms extra = {}) const {
        RuleMethod<Rule, Terms> method{rule, y, mask, scratch.whittaker, extra};
        return run(method, pspline_params(record()));
    }
};

// A Whittaker rule with no terms of its own (with_spline_rule).
Result<FitReport> reweighted_alone(const Call& c) {
    return with_spline_rule(
        c.options, [&](auto make) { return c.reweighted(make(c.y, c.mask)); },
        [] { return Result<FitReport>(Unsupported{"method", "not a P-spline method"}); });
}

// BrPLS's two loops over the spline's solve.
Result<FitReport> brpls_into(const Call& c) {
    const PsplineRecord& r = c.record();
    const auto params = pspline_params(r);
    auto& ws = c.scratch.pspline;
    if (auto ready = pspline::prepare(c.y, c.options.x, params, c.mask, c.baseline.size(), ws); !ready) {
        return ready.error();
    }
    return brpls_over_spline(c.y, c.mask, r, ws.weights, c.baseline, c.scratch.whittaker.state, c.details,
                             [&](std::span<double> z) {
                                 return pspline::solve_weighted(c.y, params, c.mask, {}, ws, z);
                             });
}

Result<FitReport> mixture_model_into(const Call& c) {
    const auto params = pspline_params(c.record());
    pspline::MixtureWeights method{{{c.record().p, c.record().symmetric}, c.y, c.mask}, params, c.baseline};
    return c.run(method, params);
}

Result<FitReport> irsqr_into(const Call& c) {
    pspline::IrsqrWeights method{{c.record().quantile, c.record().eps}, c.y, c.mask};
    return c.run(method, pspline_params(c.record()));
}

// MPLS (Li et al.) over the spline: mpls' anchors of the opening, then one penalised spline through them, the
// masked-out samples (bridged for the opening) left out of it.
Result<FitReport> mpls_into(const Call& c) {
    auto& ws = c.scratch.pspline;
    const auto half = mpls_spline_weights(c.y, c.mask, c.options, c.baseline.size(), ws, c.scratch.mpls);
    if (!half) return half.error();
    if (auto solved = pspline::solve_weighted(c.y, mpls_spline_params(c.record()), c.mask, {}, ws, c.baseline);
        !solved) {
        return solved.error();
    }
    if (c.details) {
        c.details->weights = ws.weights;
        if (c.record().half_window == 0) c.details->half_window = {half.value(), half.value()};
    }
    return single_pass;
}

using Fit = Result<FitReport> (*)(const Call&);

// The family's fits by method: a table, so that a method elsewhere in the catalogue needs no line here.
constexpr std::array<std::pair<MethodId, Fit>, 14> fits{{
    {MethodId::PsplineAsls, reweighted_alone},
    {MethodId::PsplineArPls, reweighted_alone},
    {MethodId::PsplineAirPls, reweighted_alone},
    {MethodId::PsplineIarPls, reweighted_alone},
    {MethodId::PsplinePsalsa, reweighted_alone},
    {MethodId::PsplineDerPsalsa, reweighted_alone},
    {MethodId::PsplineLsrPls, reweighted_alone},
    {MethodId::PsplineBrPls, brpls_into},
    {MethodId::PsplineDrPls, [](const Call& c) { return c.reweighted(drpls_rule(c.record()), DrPlsTerms{}); }},
    {MethodId::PsplineIasls,
     [](const Call& c) { return c.reweighted(iasls_rule(c.record()), IaslsTerms{}); }},
    {MethodId::PsplineAsPls,
     [](const Call& c) {
         return c.reweighted(aspls_rule(c.record()), AsPlsTerms{});
     }},
    {MethodId::MixtureModel, mixture_model_into},
    {MethodId::Irsqr, irsqr_into},
    {MethodId::PsplineMpls, mpls_into},
}};

}  // namespace

pspline::PsplineParams mpls_spline_params(const PsplineRecord& r) {
    auto params = pspline_params(r);
    params.max_iter = 1;
    return params;
}

Result<std::uint64_t> mpls_spline_weights(std::span<const double> y, Mask mask, const Options& options,
                                          std::size_t baseline_len, pspline::PsplineWorkspace& ws,
                                          morphology::MplsWorkspace& anchored) {
    const PsplineRecord& r = options.pspline;
    const auto params = mpls_spline_params(r);
    if (auto ready = pspline::prepare(y, options.x, params, mask, baseline_len, ws); !ready) return ready.error();
    if (!(r.p >= 0.0 && r.p <= 1.0)) return InvalidParameter{"p", "must be from 0 to 1"};
    const std::uint64_t half = r.half_window != 0 ? r.half_window : morphology::estimate_half_window(y);
    if (auto found = morphology::mpls_anchors(y, half, r.p, params.diff_order, anchored); !found) {
        return found.error();
    }
    std::size_t held = 0;
    for (std::size_t i = 0; i < ws.weights.size(); ++i) {
        ws.weights[i] = is_masked_out(mask, i) ? 0.0 : anchored.weights[i];
        held += ws.weights[i] > 0.0 ? 1 : 0;
    }
    if (held < params.diff_order) {
        return InvalidParameter{"mask", "leaves fewer anchors than diff_order with p = 0; pass p > 0 or mask less"};
    }
    return half;
}

Result<FitReport> pspline_into(std::span<const double> y, Mask mask, const Options& options,
                               std::span<double> baseline, Scratch& scratch, Details* details) {
    for (const auto& [method, fit] : fits) {
        if (method == options.method) return fit({y, mask, options, baseline, scratch, details});
    }
    return Unsupported{"method", "not a P-spline method"};
}

}  // namespace quorvel::dispatch
