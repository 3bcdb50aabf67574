#include "pspline_fit.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <type_traits>
#include <utility>

#include "core/numeric.hpp"
#include "morphology/mpls.hpp"
#include "morphology/window_estimate.hpp"
#include "pspline/irsqr.hpp"
#include "pspline/mixture_model.hpp"
#include "pspline/pspline.hpp"
#include "rules.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::MethodId;
using pspline::PsplineWorkspace;
using pspline::SystemTerms;
namespace w = whittaker;

struct NoTerms {
    template <class Running>
    SystemTerms operator()(const Running&, PsplineWorkspace&) const {
        return {};
    }
};

// A Whittaker rule over the spline: checked and started as its Whittaker fit starts it (the state it keeps lives
// in the Whittaker workspace), its first weights handed to the spline, and `extra` the terms it adds to the system.
template <class Rule, class Terms = NoTerms>
struct RuleMethod {
    using Running = std::remove_cvref_t<decltype(w::start_rule(std::declval<const Rule&>(), std::span<const double>{},
                                                                Mask{}, std::declval<WhittakerWorkspace&>()))>;
    Rule rule;
    std::span<const double> y;
    Mask mask;
    WhittakerWorkspace& state;
    Terms extra{};
    std::optional<Running> running{};

    Status begin(PsplineWorkspace& workspace) {
        if (auto valid = w::validate_rule(rule); !valid) return valid;
        state.iter.resize(y.size());
        if constexpr (std::is_same_v<Rule, w::IaslsWeights>) {
            // The quadratic that gives IAsLS its first weights is fitted on the spline's positions.
            running.emplace(w::start(rule, y, mask, state, workspace.positions));
        } else {
            running.emplace(w::start_rule(rule, y, mask, state));
        }
        std::copy(state.iter.weights.begin(), state.iter.weights.end(), workspace.weights.begin());
        return ok;
    }
    SystemTerms terms(PsplineWorkspace& workspace) { return extra(*running, workspace); }
    double reweight(std::span<const double> baseline, std::span<double> weights, std::size_t iteration) {
        return w::update_masked(*running, y, baseline, weights, iteration, mask);
    }
};

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

// drPLS (Xu et al.): B'WB + D1'D1 + lambda (I - eta W) D'D, the weights carried to the coefficients at the middles
// of their basis functions.
struct DrPlsTerms {
    SystemTerms operator()(const w::DrPlsWeights& rule, PsplineWorkspace& ws) const {
        pspline::at_basis_middles(ws.positions, ws.weights, ws.basis, ws.scale);
        for (double& scale : ws.scale) scale = 1.0 - rule.eta * scale;
        return {.coefficient_slope = 1.0, .penalty_scale = ws.scale};
    }
};

// asPLS (Zhang et al.): B'WB + lambda A D'D, alpha carried to the coefficients as drPLS carries its weights.
struct AsPlsTerms {
    SystemTerms operator()(const w::AsPlsRun& run, PsplineWorkspace& ws) const {
        pspline::at_basis_middles(ws.positions, run.alpha, ws.basis, ws.scale);
        return {.penalty_scale = ws.scale};
    }
};

// IAsLS (He et al.): B'W'WB + lam_1 B'D1'D1 B + lambda D'D, right side (B'W'W + lam_1 B'D1'D1) y.
struct IaslsTerms {
    SystemTerms operator()(const w::IaslsRun& run, PsplineWorkspace&) const {
        return {.squared_weights = true, .residual_slope = run.rule.lam_1};
    }
};

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
    const PsplineRecord& r = c.record();
    auto params = pspline_params(r);
    params.max_iter = 1;
    auto& ws = c.scratch.pspline;
    if (auto ready = pspline::prepare(c.y, c.options.x, params, c.mask, c.baseline.size(), ws); !ready) {
        return ready.error();
    }
    if (!(r.p >= 0.0 && r.p <= 1.0)) return InvalidParameter{"p", "must be from 0 to 1"};
    const std::uint64_t half = r.half_window != 0 ? r.half_window : morphology::estimate_half_window(c.y);
    auto& anchored = c.scratch.mpls;
    if (auto found = morphology::mpls_anchors(c.y, half, r.p, params.diff_order, anchored); !found) {
        return found.error();
    }
    std::size_t held = 0;
    for (std::size_t i = 0; i < ws.weights.size(); ++i) {
        ws.weights[i] = is_masked_out(c.mask, i) ? 0.0 : anchored.weights[i];
        held += ws.weights[i] > 0.0 ? 1 : 0;
    }
    if (held < params.diff_order) {
        return InvalidParameter{"mask", "leaves fewer anchors than diff_order with p = 0; pass p > 0 or mask less"};
    }
    if (auto solved = pspline::solve_weighted(c.y, params, c.mask, {}, ws, c.baseline); !solved) {
        return solved.error();
    }
    if (c.details) {
        c.details->weights = ws.weights;
        if (r.half_window == 0) c.details->half_window = {half, half};
    }
    return single_pass;
}

using Fit = Result<FitReport> (*)(const Call&);

// The family's fits by method: a table, so that a method elsewhere in the catalogue needs no line here.
constexpr std::array<std::pair<MethodId, Fit>, 14> fits{{
    {MethodId::PsplineAsls, [](const Call& c) { return c.reweighted(w::AslsWeights{c.record().p}); }},
    // The reference library's P-spline arPLS takes the sample deviation, as its grid arPLS does.
    {MethodId::PsplineArPls, [](const Call& c) { return c.reweighted(w::ArPlsWeights{.sample_statistics = true}); }},
    {MethodId::PsplineAirPls,
     [](const Call& c) { return c.reweighted(w::AirPlsShare{w::residual_scale(c.y, c.mask)}); }},
    {MethodId::PsplineIarPls, [](const Call& c) { return c.reweighted(w::IarPlsWeights{}); }},
    {MethodId::PsplinePsalsa, [](const Call& c) { return c.reweighted(w::PsalsaWeights{c.record().p, c.record().k}); }},
    {MethodId::PsplineDerPsalsa,
     [](const Call& c) {
         const PsplineRecord& r = c.record();
         return c.reweighted(w::DerPsalsaWeights{r.p, r.k, r.smooth_half_window, r.num_smooths});
     }},
    {MethodId::PsplineLsrPls, [](const Call& c) { return c.reweighted(w::LsrPlsWeights{}); }},
    {MethodId::PsplineBrPls, brpls_into},
    {MethodId::PsplineDrPls, [](const Call& c) { return c.reweighted(w::DrPlsWeights{c.record().eta}, DrPlsTerms{}); }},
    {MethodId::PsplineIasls,
     [](const Call& c) { return c.reweighted(w::IaslsWeights{c.record().p, c.record().lam_1[0]}, IaslsTerms{}); }},
    {MethodId::PsplineAsPls,
     [](const Call& c) {
         return c.reweighted(w::AsPlsWeights{c.record().asymmetric_coef, c.record().alpha}, AsPlsTerms{});
     }},
    {MethodId::MixtureModel, mixture_model_into},
    {MethodId::Irsqr, irsqr_into},
    {MethodId::PsplineMpls, mpls_into},
}};

}  // namespace

Result<FitReport> pspline_into(std::span<const double> y, Mask mask, const Options& options,
                               std::span<double> baseline, Scratch& scratch, Details* details) {
    for (const auto& [method, fit] : fits) {
        if (method == options.method) return fit({y, mask, options, baseline, scratch, details});
    }
    return Unsupported{"method", "not a P-spline method"};
}

}  // namespace quorvel::dispatch
