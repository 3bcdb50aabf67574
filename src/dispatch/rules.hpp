// The weight rule of each Whittaker method: the one place that maps a method to its rule, for
// single fits, blocks, lanes and grids alike (a grid fit applies the rule's grid form).
#pragma once

#include "options.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"

namespace quorvel::dispatch {

// use(rule) for a Whittaker method of `ndim`-dimensional data, otherwise() for any other method.
template <int ndim, class Use, class Otherwise>
auto with_rule(const Options& options, Use use, Otherwise otherwise) {
    using catalogue::MethodId;
    switch (options.method) {
        case MethodId::Asls: return use(whittaker::AslsWeights{options.whittaker.p});
        case MethodId::ArPls: return use(whittaker::ArPlsWeights{});
        case MethodId::AirPls:
            if constexpr (ndim == 1) return use(whittaker::AirPlsWeights{});  // airPLS has no grid form
            break;
        case MethodId::RollingBall:
        case MethodId::Polynomial:
        case MethodId::Tophat: break;
    }
    return otherwise();
}

}  // namespace quorvel::dispatch
