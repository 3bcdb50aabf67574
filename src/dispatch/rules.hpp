// The weight rule of each Whittaker method: the one place that maps a method to its rule, for
// single fits, blocks and lanes alike.
#pragma once

#include "options.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/two_d/whittaker.hpp"

namespace quorvel::dispatch {

// use(rule) for a Whittaker method of spectra, otherwise() for any other method.
template <class Use, class Otherwise>
auto with_rule(const Options& options, Use use, Otherwise otherwise) {
    using catalogue::MethodId;
    switch (options.method) {
        case MethodId::Asls: return use(whittaker::AslsWeights{options.whittaker.p});
        case MethodId::ArPls: return use(whittaker::ArPlsWeights{});
        case MethodId::AirPls: return use(whittaker::AirPlsWeights{});
        case MethodId::RollingBall:
        case MethodId::Polynomial:
        case MethodId::Tophat: break;
    }
    return otherwise();
}

// The same for grids.
template <class Use, class Otherwise>
auto with_rule_2d(const Options& options, Use use, Otherwise otherwise) {
    using catalogue::MethodId;
    switch (options.method) {
        case MethodId::Asls: return use(two_d::whittaker::AslsWeights{options.whittaker.p});
        case MethodId::ArPls: return use(two_d::whittaker::ArPlsWeights{});
        case MethodId::AirPls:
        case MethodId::RollingBall:
        case MethodId::Polynomial:
        case MethodId::Tophat: break;
    }
    return otherwise();
}

}  // namespace quorvel::dispatch
