// The P-splines on grids: each Whittaker rule's grid form over the tensor-product spline, in the loop of the
// splines of spectra.
#include <algorithm>
#include <array>
#include <optional>
#include <type_traits>
#include <utility>

#include "pspline/irsqr.hpp"
#include "pspline/mixture_model.hpp"
#include "pspline/two_d/grid_pspline.hpp"
#include "pspline_fit.hpp"
#include "rules.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::MethodId;
using pspline::two_d::GridPsplineWorkspace;
using pspline::two_d::GridTerms;
namespace w = whittaker;

// The running form of a rule's grid form, as the Whittaker grids start it (two_d/whittaker.hpp).
template <class Form>
auto grid_started(const Form& form, const two_d::Grid& data, Mask mask, std::vector<double>& state,
                  std::span<double> weights) {
    if constexpr (requires { grid_start(form, data, mask, state, weights); }) {
        return grid_start(form, data, mask, state, weights);
    } else if constexpr (requires { grid_start(form, data.data, mask, state); }) {
        return grid_start(form, data.data, mask, state);
    } else {
        return form;
    }
}

template <class Rule>
struct GridRuleMethod {
    using Running = std::remove_cvref_t<decltype(grid_started(grid_form(std::declval<const Rule&>()),
                                                              std::declval<const two_d::Grid&>(), Mask{},
                                                              std::declval<std::vector<double>&>(),
                                                              std::span<double>{}))>;
    Rule rule;
    const two_d::Grid& data;
    Mask mask;
    std::vector<double>& state;
    std::optional<Running> running{};

    Status begin(GridPsplineWorkspace& ws) {
        if (auto valid = w::validate_rule(rule); !valid) return valid;
        if constexpr (std::is_same_v<Rule, w::IaslsWeights>) {
            // The surface that gives IAsLS its first weights is fitted on the spline's positions.
            running.emplace(grid_start(rule, data, mask, state, std::span<double>(ws.weights), ws.positions[0],
                                       ws.positions[1]));
        } else {
            running.emplace(grid_started(grid_form(rule), data, mask, state, std::span<double>(ws.weights)));
        }
        return ok;
    }
    GridTerms grid_terms() const {
        if constexpr (std::is_same_v<Running, w::IaslsGridRun>) {
            return {.squared_weights = true, .residual_slope = {running->lam_1_rows, running->lam_1_cols}};
        } else {
            return {};
        }
    }
    double reweight(std::span<const double> baseline, std::span<double> weights, std::size_t iteration) {
        return update_masked(*running, data.data, baseline, weights, iteration, mask);
    }
};

// mixture_model's EM after a first fit with weights 1.
struct GridMixture {
    pspline::MixtureEm em;
    const two_d::Grid& data;
    const pspline::two_d::GridPsplineParams& params;
    std::span<double> baseline;

    Status begin(GridPsplineWorkspace& ws) {
        if (auto valid = em.check(); !valid) return valid;
        if (auto solved = pspline::two_d::solve_weighted(data, params, em.mask, {}, ws, baseline); !solved) {
            return solved;
        }
        em.start(baseline, ws.weights);
        return ok;
    }
    double reweight(std::span<const double> fit, std::span<double> weights, std::size_t iteration) {
        return em.reweight(fit, weights, iteration);
    }
};

struct GridIrsqr {
    pspline::IrsqrWeights rule;

    Status begin(GridPsplineWorkspace& ws) {
        return rule.start(ws.system.coefficients, ws.bases.axis0.coefficients * ws.bases.axis1.coefficients);
    }
    double reweight(std::span<const double> baseline, std::span<double> weights, std::size_t iteration) {
        return rule.reweight(baseline, weights, iteration);
    }
};

struct GridCall {
    const two_d::Grid& grid;
    Mask mask;
    const Options& options;
    const two_d::GridOut& out;
    Scratch& scratch;
    Details* details;

    const PsplineRecord& record() const { return options.pspline; }

    template <class Method>
    Result<FitReport> run(Method& method, const pspline::two_d::GridPsplineParams& params) const {
        auto& ws = scratch.pspline_2d;
        auto report = pspline::two_d::fit_grid_into(grid, options.x, options.z, params, mask, method, out, ws,
                                                    details ? &details->history : nullptr);
        if (report && details) details->weights = ws.weights;
        return report;
    }

    template <class Rule>
    Result<FitReport> reweighted(Rule rule) const {
        GridRuleMethod<Rule> method{rule, grid, mask, scratch.whittaker_2d.state};
        return run(method, grid_pspline_params(record()));
    }
};

Result<FitReport> brpls_into(const GridCall& c) {
    const PsplineRecord& r = c.record();
    const auto params = grid_pspline_params(r);
    auto& ws = c.scratch.pspline_2d;
    if (auto ready = pspline::two_d::prepare_grid(c.grid, c.options.x, c.options.z, params, c.mask, c.out, ws);
        !ready) {
        return ready.error();
    }
    return brpls_over_spline(c.grid.data, c.mask, r, ws.weights, c.out.data, c.scratch.whittaker_2d.state, c.details,
                             [&](std::span<double> z) {
                                 return pspline::two_d::solve_weighted(c.grid, params, c.mask, {}, ws, z);
                             });
}

Result<FitReport> mixture_model_into(const GridCall& c) {
    const auto params = grid_pspline_params(c.record());
    GridMixture method{{{c.record().p, c.record().symmetric}, c.grid.data, c.mask}, c.grid, params, c.out.data};
    return c.run(method, params);
}

Result<FitReport> irsqr_into(const GridCall& c) {
    GridIrsqr method{{{c.record().quantile, c.record().eps}, c.grid.data, c.mask}};
    return c.run(method, grid_pspline_params(c.record()));
}

using Fit = Result<FitReport> (*)(const GridCall&);

// The methods the reference library has on grids.
constexpr std::array<std::pair<MethodId, Fit>, 10> fits{{
    {MethodId::PsplineAsls, [](const GridCall& c) { return c.reweighted(w::AslsWeights{c.record().p}); }},
    {MethodId::PsplineArPls, [](const GridCall& c) { return c.reweighted(w::ArPlsWeights{}); }},
    {MethodId::PsplineAirPls, [](const GridCall& c) { return c.reweighted(w::AirPlsWeights{}); }},
    {MethodId::PsplineIarPls, [](const GridCall& c) { return c.reweighted(w::IarPlsWeights{}); }},
    {MethodId::PsplinePsalsa,
     [](const GridCall& c) { return c.reweighted(w::PsalsaWeights{c.record().p, c.record().k}); }},
    {MethodId::PsplineLsrPls, [](const GridCall& c) { return c.reweighted(w::LsrPlsWeights{}); }},
    {MethodId::PsplineBrPls, brpls_into},
    {MethodId::PsplineIasls,
     [](const GridCall& c) {
         const PsplineRecord& r = c.record();
         return c.reweighted(w::IaslsWeights{r.p, r.lam_1[0], r.lam_1[1]});
     }},
    {MethodId::MixtureModel, mixture_model_into},
    {MethodId::Irsqr, irsqr_into},
}};

}  // namespace

Result<FitReport> pspline_2d_into(const two_d::Grid& grid, Mask mask, const Options& options,
                                  const two_d::GridOut& out, Scratch& scratch, Details* details) {
    for (const auto& [method, fit] : fits) {
        if (method == options.method) return fit({grid, mask, options, out, scratch, details});
    }
    return Unsupported{"method", "not a method of grids"};
}

}  // namespace quorvel::dispatch
