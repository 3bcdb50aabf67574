// The weight rule of each Whittaker method: the one place that maps a method to its rule, for
// single fits, blocks, lanes and grids alike (a grid fit applies the rule's grid form).
#pragma once

#include "options.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/aspls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/brpls.hpp"
#include "whittaker/derpsalsa.hpp"
#include "whittaker/drpls.hpp"
#include "whittaker/iarpls.hpp"
#include "whittaker/iasls.hpp"
#include "whittaker/lsrpls.hpp"
#include "whittaker/psalsa.hpp"

namespace quorvel::dispatch {

// use(rule) for a Whittaker method of `ndim`-dimensional data, otherwise() for any other method.
template <int ndim, class Use, class Otherwise>
auto with_rule(const Options& options, Use use, Otherwise otherwise) {
    using catalogue::MethodId;
    namespace w = whittaker;
    const WhittakerRecord& r = options.whittaker;
    // Spectra only, until a rule has its grid form.
    const auto spectra = [&](const auto& rule) {
        if constexpr (ndim == 1) return use(rule);
        else return otherwise();
    };
    switch (options.method) {
        case MethodId::Asls: return use(w::AslsWeights{r.p});
        case MethodId::ArPls: return use(w::ArPlsWeights{});
        case MethodId::AirPls: return use(w::AirPlsWeights{});
        case MethodId::Iasls: return use(w::IaslsWeights{r.p, r.lam_1[0], r.lam_1[1]});
        case MethodId::DrPls: return use(w::DrPlsWeights{r.eta});
        case MethodId::IarPls: return use(w::IarPlsWeights{});
        case MethodId::AsPls: return use(w::AsPlsWeights{r.asymmetric_coef, r.alpha});
        case MethodId::Psalsa: return use(w::PsalsaWeights{r.p, r.k});
        case MethodId::DerPsalsa:
            return spectra(w::DerPsalsaWeights{r.p, r.k, r.smooth_half_window, r.num_smooths});
        case MethodId::BrPls: return use(w::BrPlsWeights{r.max_iter_2, r.tol_2});
        case MethodId::LsrPls: return use(w::LsrPlsWeights{});
        case MethodId::RollingBall:
        case MethodId::Polynomial:
        case MethodId::Tophat:
        case MethodId::Snip:
        case MethodId::Rubberband:
        case MethodId::Mor:
        case MethodId::Imor:
        case MethodId::Amormol:
        case MethodId::Mormol:
        case MethodId::NoiseMedian:
        case MethodId::Poly:
        case MethodId::Modpoly:
        case MethodId::Imodpoly:
        case MethodId::PenalizedPoly:
        case MethodId::QuantReg:
        case MethodId::Loess: break;
        case MethodId::PeakFilling:
        case MethodId::CornerCutting:
        case MethodId::Mwmv:
        case MethodId::InterpPts:
        case MethodId::Mpls:
        case MethodId::Jbcd:
        case MethodId::Ipsa:
        case MethodId::Ria:
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
        case MethodId::Goldindec:
        case MethodId::Swima:
        case MethodId::MixtureModel:
        case MethodId::Irsqr:
        case MethodId::PsplineMpls: break;
    }
    return otherwise();
}

}  // namespace quorvel::dispatch
