// Whittaker fits of many spectra streamed through the lanes of a block: a lane whose fit ends, by
// convergence, the iteration cap or a failed solve, takes the next spectrum at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "lane_arrays.hpp"
#include "lane_block.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/aspls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/derpsalsa.hpp"
#include "whittaker/drpls.hpp"
#include "whittaker/engine.hpp"
#include "whittaker/iarpls.hpp"
#include "whittaker/iasls.hpp"
#include "whittaker/lsrpls.hpp"
#include "whittaker/psalsa.hpp"

namespace quorvel::whittaker {

// One spectrum's outcome: its report, or the error its own fit gave.
struct ItemOutcome {
    FitReport report{};
    std::optional<BaselineError> error;
};

// How fit_many runs. Automatic takes the fastest form this CPU offers; the others are forced (an
// unavailable Avx2 runs Interleaved). Every form gives each spectrum the bits of its own fit.
enum class LanePath : std::uint8_t { Automatic, ScalarLoop, Interleaved, Avx2 };

bool lane_path_available(LanePath path);

// What fit_controlled checks of one spectrum before it fits it.
inline Status validate_spectrum(std::span<const double> y, Mask mask, const WhittakerParams& params) {
    if (auto valid = validate_fit(y, params, y.size()); !valid) return valid;
    return validate_mask(y.size(), mask, params.diff_order);
}

// The spectrum y enters lane l once it passes those checks: true, or false with its error in `outcome`.
inline bool enter_lane(LaneArrays& arrays, std::size_t l, std::span<const double> y, Mask mask,
                       const WhittakerParams& params, ItemOutcome& outcome) {
    if (auto valid = validate_spectrum(y, mask, params); !valid) {
        outcome = {{}, valid.error()};
        return false;
    }
    arrays.put_spectrum(l, y, mask);
    return true;
}

// The kernels that run `count` spectra of n samples on `path`, or nothing for the loop of single fits;
// `small_state`: the solve keeps little per sweep (the second-order Cholesky factor of asls, arpls and airpls,
// or a band of half-width 1), so that two registers of lanes still fit the registers.
std::optional<LaneKernels> lane_kernels_for(LanePath path, std::size_t count, std::size_t n, bool small_state);

// The rule of a lane form, or nothing for a rule that has none.
inline std::optional<LaneRule> lane_rule(const AslsWeights& rule) { return LaneRule{LaneRule::Kind::Asls, rule.p}; }
inline std::optional<LaneRule> lane_rule(const ArPlsWeights& rule) {
    if (rule.sample_statistics) return std::nullopt;
    return LaneRule{LaneRule::Kind::ArPls};
}
inline std::optional<LaneRule> lane_rule(const AirPlsWeights&) { return LaneRule{LaneRule::Kind::AirPls}; }
inline std::optional<LaneRule> lane_rule(const IaslsWeights& rule) {
    return LaneRule{.kind = LaneRule::Kind::Iasls, .p = rule.p, .lam_1 = rule.lam_1};
}
inline std::optional<LaneRule> lane_rule(const DrPlsWeights& rule) {
    return LaneRule{.kind = LaneRule::Kind::DrPls, .eta = rule.eta};
}
inline std::optional<LaneRule> lane_rule(const IarPlsWeights&) { return LaneRule{LaneRule::Kind::IarPls}; }
inline std::optional<LaneRule> lane_rule(const AsPlsWeights& rule) {
    return LaneRule{.kind = LaneRule::Kind::AsPls, .coef = rule.asymmetric_coef, .alpha = rule.alpha};
}
inline std::optional<LaneRule> lane_rule(const PsalsaWeights& rule) {
    return LaneRule{.kind = LaneRule::Kind::Psalsa, .p = rule.p, .k = rule.k};
}
inline std::optional<LaneRule> lane_rule(const DerPsalsaWeights& rule) {
    return LaneRule{.kind = LaneRule::Kind::DerPsalsa, .p = rule.p, .k = rule.k,
                    .smooth_half_window = rule.smooth_half_window, .num_smooths = rule.num_smooths};
}
inline std::optional<LaneRule> lane_rule(const LsrPlsWeights&) { return LaneRule{LaneRule::Kind::LsrPls}; }

// The arguments of fit_many, run on `kernels`, with the penalties prepare_uneven made of params.x.
void fit_lanes(const LaneKernels& kernels, const LaneRule& rule, std::span<const double> ys, std::size_t n,
               const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks, StopRule stop,
               std::span<double> baselines, std::span<ItemOutcome> outcomes);

}  // namespace quorvel::whittaker
