// Whittaker fits of many spectra of one length, each with exactly its own single-spectrum result.
#pragma once

#include <cstddef>
#include <span>
#include <type_traits>

#include "brpls_lanes.hpp"
#include "lane_fit.hpp"
#include "whittaker/engine.hpp"

namespace quorvel::whittaker {

// Spectrum k is ys[k n, (k + 1) n), its mask (when masks is not empty) masks[k n, (k + 1) n), and its
// baseline goes to baselines[k n, (k + 1) n). outcomes[k] receives what fit_controlled gives for that
// spectrum alone; the baseline of a failed spectrum is unspecified.
template <class Rule>
void fit_many(std::span<const double> ys, std::size_t n, const WhittakerParams& params, const Rule& rule,
              Mask masks, StopRule stop, std::span<double> baselines, std::span<ItemOutcome> outcomes,
              LanePath path = LanePath::Automatic) {
    constexpr bool first_three =
        std::is_same_v<Rule, AslsWeights> || std::is_same_v<Rule, ArPlsWeights> || std::is_same_v<Rule, AirPlsWeights>;
    const auto kernels = lane_kernels_for(path, outcomes.size(), n, first_three || params.diff_order == 1);
    // An order out of range, or positions the fit refuses, fail every spectrum alike, as the loop of single
    // fits reports.
    const bool order_ok = params.diff_order >= 1 && params.diff_order <= linalg::max_difference_order;
    UnevenPenalties uneven;
    if (kernels && order_ok && validate_rule(rule) &&
        prepare_uneven(uneven, params.x, n, params.diff_order, params.lambda)) {
        if constexpr (std::is_same_v<Rule, BrPlsWeights>) {
            return fit_brpls_lanes(*kernels, rule, ys, n, params, uneven, masks, baselines, outcomes);
        } else if constexpr (requires { lane_rule(rule); }) {
            if (const auto lane = lane_rule(rule)) {
                return fit_lanes(*kernels, *lane, ys, n, params, uneven, masks, stop, baselines, outcomes);
            }
        }
    }
    WhittakerWorkspace workspace(n);
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        const Mask mask = masks.empty() ? Mask{} : masks.subspan(k * n, n);
        const FitControls controls{mask, stop, nullptr};
        auto fit = fit_controlled(ys.subspan(k * n, n), params, rule, baselines.subspan(k * n, n), workspace,
                                  controls);
        outcomes[k] = fit ? ItemOutcome{fit.value(), std::nullopt} : ItemOutcome{{}, fit.error()};
    }
}

}  // namespace quorvel::whittaker
