// A Whittaker weight rule run over the penalised spline, for single fits and the lanes alike.
#pragma once

#include <algorithm>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

#include "fit.hpp"
#include "pspline/pspline.hpp"
#include "rules.hpp"

namespace quorvel::dispatch {

struct NoTerms {
    template <class Running>
    pspline::SystemTerms operator()(const Running&, pspline::PsplineWorkspace&) const {
        return {};
    }
};

// IAsLS (He et al.): B'W'WB + lam_1 B'D1'D1 B + lambda D'D, right side (B'W'W + lam_1 B'D1'D1) y.
struct IaslsTerms {
    pspline::SystemTerms operator()(const whittaker::IaslsRun& run, pspline::PsplineWorkspace&) const {
        return {.squared_weights = true, .residual_slope = run.rule.lam_1};
    }
};

inline whittaker::IaslsWeights iasls_rule(const PsplineRecord& r) { return {r.p, r.lam_1[0]}; }
inline whittaker::DrPlsWeights drpls_rule(const PsplineRecord& r) { return {r.eta}; }
inline whittaker::AsPlsWeights aspls_rule(const PsplineRecord& r) { return {r.asymmetric_coef, r.alpha}; }

// drPLS (Xu et al.): B'WB + D1'D1 + lambda (I - eta W) D'D, the weights carried to the coefficients at the middles
// of their basis functions.
struct DrPlsTerms {
    pspline::SystemTerms operator()(const whittaker::DrPlsWeights& rule, pspline::PsplineWorkspace& ws) const {
        pspline::at_basis_middles(ws.positions, ws.weights, ws.basis, ws.scale);
        for (double& scale : ws.scale) scale = 1.0 - rule.eta * scale;
        return {.coefficient_slope = 1.0, .penalty_scale = ws.scale};
    }
};

// asPLS (Zhang et al.): B'WB + lambda A D'D, alpha carried to the coefficients as drPLS carries its weights.
struct AsPlsTerms {
    pspline::SystemTerms operator()(const whittaker::AsPlsRun& run, pspline::PsplineWorkspace& ws) const {
        pspline::at_basis_middles(ws.positions, run.alpha, ws.basis, ws.scale);
        return {.penalty_scale = ws.scale};
    }
};

// A Whittaker rule over the spline: checked and started as its Whittaker fit starts it (the state it keeps lives
// in the Whittaker workspace), its first weights handed to the spline, and `extra` the terms it adds to the system.
template <class Rule, class Terms = NoTerms>
struct RuleMethod {
    using Running = std::remove_cvref_t<decltype(whittaker::start_rule(
        std::declval<const Rule&>(), std::span<const double>{}, Mask{}, std::declval<WhittakerWorkspace&>()))>;
    Rule rule;
    std::span<const double> y;
    Mask mask;
    WhittakerWorkspace& state;
    Terms extra{};
    std::optional<Running> running{};

    // A rule without a start of its own starts from the weights prepare gives: 1 at every used sample.
    static constexpr bool own_start =
        requires(const Rule& r, WhittakerWorkspace& ws) { whittaker::start(r, std::span<const double>{}, Mask{}, ws); };

    Status begin(pspline::PsplineWorkspace& workspace) {
        if (auto valid = whittaker::validate_rule(rule); !valid) return valid;
        if constexpr (!own_start) {
            running.emplace(rule);
            return ok;
        }
        state.iter.resize(y.size());
        if constexpr (std::is_same_v<Rule, whittaker::IaslsWeights>) {
            // The quadratic that gives IAsLS its first weights is fitted on the spline's positions.
            running.emplace(whittaker::start(rule, y, mask, state, workspace.positions));
        } else {
            running.emplace(whittaker::start_rule(rule, y, mask, state));
        }
        std::copy(state.iter.weights.begin(), state.iter.weights.end(), workspace.weights.begin());
        return ok;
    }
    pspline::SystemTerms terms(pspline::PsplineWorkspace& workspace) { return extra(*running, workspace); }
    double reweight(std::span<const double> baseline, std::span<double> weights, std::size_t iteration) {
        return whittaker::update_masked(*running, y, baseline, weights, iteration, mask);
    }
};

// use(make) for a P-spline method that a Whittaker rule reweights with no terms of its own, make(y, mask) the rule
// of one spectrum; otherwise() for the others.
template <class Use, class Otherwise>
auto with_spline_rule(const Options& options, Use use, Otherwise otherwise) {
    using catalogue::MethodId;
    namespace w = whittaker;
    const PsplineRecord& r = options.pspline;
    const auto fixed = [&](auto rule) { return use([rule](std::span<const double>, Mask) { return rule; }); };
    const MethodId method = options.method;
    if (method == MethodId::PsplineAsls) return fixed(w::AslsWeights{r.p});
    // The reference library's P-spline arPLS takes the sample deviation, as its grid arPLS does.
    if (method == MethodId::PsplineArPls) return fixed(w::ArPlsWeights{.sample_statistics = true});
    if (method == MethodId::PsplineAirPls) {
        return use([](std::span<const double> y, Mask mask) { return w::AirPlsShare{w::residual_scale(y, mask)}; });
    }
    if (method == MethodId::PsplineIarPls) return fixed(w::IarPlsWeights{});
    if (method == MethodId::PsplinePsalsa) return fixed(w::PsalsaWeights{r.p, r.k});
    if (method == MethodId::PsplineDerPsalsa) {
        return fixed(w::DerPsalsaWeights{r.p, r.k, r.smooth_half_window, r.num_smooths});
    }
    if (method == MethodId::PsplineLsrPls) return fixed(w::LsrPlsWeights{});
    return otherwise();
}

}  // namespace quorvel::dispatch
