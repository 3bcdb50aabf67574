// The P-spline fit's loop for the lanes of a block: spectra enter and leave lanes as their fits end, one solve
// runs for all lanes, and each lane reweights, stops and reports as its own fit.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "fit.hpp"
#include "linalg/banded.hpp"
#include "pspline/irsqr.hpp"
#include "pspline/lanes/lane_system.hpp"
#include "pspline/mixture_model.hpp"
#include "pspline_rule.hpp"
#include "whittaker/lanes/lane_arrays.hpp"
#include "whittaker/lanes/lane_fit.hpp"

namespace quorvel::dispatch::spline_lanes {

using whittaker::ItemOutcome;
using whittaker::LaneArrays;

struct Kernels {
    pspline::SplineLaneKernels spline;
    whittaker::LaneKernels rules;
    bool interleaved;
};

// The lane form of a rule, where it has one; the P-spline forms of arPLS and airPLS are not the Whittaker ones.
template <class Rule>
std::optional<whittaker::LaneRule> spline_lane_rule(const Rule& rule) {
    using Kind = whittaker::LaneRule::Kind;
    if constexpr (std::is_same_v<Rule, whittaker::ArPlsWeights>) {
        return whittaker::LaneRule{.kind = Kind::ArPls, .sample_statistics = rule.sample_statistics};
    } else if constexpr (std::is_same_v<Rule, whittaker::AirPlsShare>) {
        return whittaker::LaneRule{Kind::AirPlsShare};
    } else if constexpr (requires { whittaker::lane_rule(rule); }) {
        return whittaker::lane_rule(rule);
    } else {
        return std::nullopt;
    }
}

// Whether a method starts from weights of its own rather than prepare's.
template <class Method>
constexpr bool own_start() {
    if constexpr (requires { Method::own_start; }) {
        return Method::own_start;
    } else {
        return true;
    }
}

template <class Method>
struct Lane {
    std::size_t item = 0;
    std::uint64_t iteration = 0;  // one-based, as fit_into's k
    double measure = 0.0;         // of the last iteration
    bool busy = false;
    bool starting = false;        // solving the mixture's first fit, with weights 1, which no iteration counts
    WhittakerWorkspace state;
    std::optional<Method> method;
};

// fit_into's loop for every lane: one solve of all lanes, then each lane's reweighting, in the rule's lane form
// where it has one and in its own form otherwise, then each lane's decision. emplace(method, y, mask, state) makes
// a spectrum's method, its state in `state`.
template <class Method, class Emplace>
class SplineLaneRun {
public:
    SplineLaneRun(const Kernels& kernels, std::optional<whittaker::LaneRule> lane_rule, const Emplace& emplace,
                  std::span<const double> ys, std::size_t n, Mask masks, const Options& options,
                  std::span<double> baselines, std::span<ItemOutcome> outcomes)
        : kernels_(kernels), lane_rule_(lane_rule), emplace_(emplace), ys_(ys), n_(n), masks_(masks), x_(options.x),
          params_(pspline_params(options.pspline)), baselines_(baselines), outcomes_(outcomes),
          arrays_(n, width(), !masks.empty()), lanes_(width()), failed_(std::make_unique<bool[]>(width())),
          iteration_(width()), growth_(width()), k_(width()), first_(width()), last_(width()), diff_sq_(width()),
          old_sq_(width()), measures_(width()), sums_(width()), scale_(width()), baseline_(n), weights_(n) {}

    void run() {
        while (refill()) {
            kernels_.spline.solve(spline_, failed_.get());
            reweight();
            for (std::size_t l = 0; l < width(); ++l) {
                if (lanes_[l].busy) settle(l);
            }
        }
    }

private:
    std::size_t width() const { return kernels_.spline.width; }

    bool refill() {
        return whittaker::refill_lanes(lanes_, next_, outcomes_.size(),
                                       [&](std::size_t l, std::size_t item) { load(l, item); });
    }

    // The checks, basis and first weights of the spectrum's own fit; the system's arrays once the basis is known.
    void load(std::size_t l, std::size_t item) {
        const auto y = ys_.subspan(item * n_, n_);
        const Mask mask = masks_.empty() ? Mask{} : masks_.subspan(item * n_, n_);
        auto& lane = lanes_[l];
        lane.method.reset();
        if (auto ready = pspline::prepare(y, x_, params_, mask, n_, shared_); !ready) {
            outcomes_[item] = {{}, ready.error()};
            return;
        }
        emplace_(lane.method, y, mask, lane.state);
        // The mixture's first fit, which its begin solves alone, runs in the lanes.
        constexpr bool mixture = std::is_same_v<Method, pspline::MixtureWeights>;
        const Status begun = [&] {
            if constexpr (mixture) {
                return lane.method->check();
            } else {
                return lane.method->begin(shared_);
            }
        }();
        if (!begun) {
            outcomes_[item] = {{}, begun.error()};
            return;
        }
        // The terms a method adds stay as they are through its fit and alike for every spectrum; only the residual
        // slope's depend on the spectrum.
        const pspline::SystemTerms terms = pspline::terms_of(*lane.method, shared_);
        const std::size_t band = std::max<std::size_t>(
            {shared_.basis.degree, params_.diff_order, terms.coefficient_slope != 0.0 ? 1u : 0u});
        if (terms.residual_slope != 0.0) {
            pspline::form_residual_slopes(y, mask, shared_.basis, terms.residual_slope, band, shared_.system);
        }
        if (!spline_.basis) size_system(l, terms, terms.residual_slope != 0.0 ? shared_.system.slope_band : band);
        if (terms.residual_slope != 0.0) {
            whittaker::put_lane(slopes_.data(), width(), l, shared_.system.slope_bands);
            whittaker::put_lane(slopes_.data() + shared_.system.slope_bands.size() * width(), width(), l,
                                shared_.system.slope_rhs);
        }
        arrays_.put_spectrum(l, y, mask);
        if constexpr (own_start<Method>()) whittaker::put_lane(arrays_.weights(), width(), l, shared_.weights);
        if constexpr (requires { lane.method->running; }) {
            const auto& running = *lane.method->running;
            if constexpr (requires { running.k; }) k_[l] = running.k;
            if constexpr (requires { running.scale; }) scale_[l] = running.scale;
            if constexpr (requires { running.screen; }) {
                whittaker::put_lane(arrays_.state(), width(), l, running.screen);
            }
            if constexpr (requires { running.alpha; }) whittaker::put_lane(arrays_.state(), width(), l, running.alpha);
        }
        if constexpr (std::is_same_v<Method, pspline::MixtureWeights>) mixture_ = lane.method->params;
        if constexpr (std::is_same_v<Method, pspline::IrsqrWeights>) {
            // Its coefficients of the solve before, zeros at the first, as its start sets them.
            irsqr_ = lane.method->params;
            previous_.resize(shared_.basis.coefficients * width());
            for (std::size_t j = 0; j < shared_.basis.coefficients; ++j) previous_[j * width() + l] = 0.0;
        }
        if (!mask.empty()) {
            const auto used = [](bool keep) { return keep; };
            first_[l] = static_cast<double>(std::find_if(mask.begin(), mask.end(), used) - mask.begin());
            last_[l] = static_cast<double>(mask.rend() - std::find_if(mask.rbegin(), mask.rend(), used) - 1);
        }
        lane.item = item;
        lane.iteration = 1;
        lane.measure = 0.0;
        lane.busy = true;
        lane.starting = mixture;
    }

    // For lane l's spectrum, the first that passed its checks.
    void size_system(std::size_t l, const pspline::SystemTerms& terms, std::size_t band) {
        const pspline::SplineBasis& basis = shared_.basis;
        const std::size_t m = basis.coefficients;
        penalty_.emplace(m, params_.diff_order, params_.lambda);
        system_.assign((band + 4) * m * width(), 0.0);
        const bool slopes = terms.residual_slope != 0.0;
        if (slopes) slopes_.assign((band + 2) * m * width(), 0.0);
        const bool scaled = !terms.penalty_scale.empty();
        if (scaled) {
            pspline::plan_middles(shared_.positions, basis, plan_);
            scaled_store_.assign(((3 * band + 1) * m + 2 * m) * width(), 0.0);
            double* store = scaled_store_.data();
            // drPLS scales the penalty by 1 - eta w, asPLS by its alpha, both carried to the coefficients.
            constexpr bool relaxed = std::is_same_v<Method, RuleMethod<whittaker::DrPlsWeights, DrPlsTerms>>;
            double eta = 0.0;
            if constexpr (relaxed) eta = lanes_[l].method->rule.eta;
            scaled_ = {plan_.data(), relaxed ? arrays_.weights() : arrays_.state(), relaxed, eta, store,
                       store + m * width(), store + (3 * band + 2) * m * width()};
        }
        double* at = system_.data();
        spline_ = {n_,
                   band,
                   params_.diff_order,
                   &basis,
                   &*penalty_,
                   arrays_.y(),
                   arrays_.weights(),
                   terms.squared_weights,
                   terms.coefficient_slope,
                   scaled ? &scaled_ : nullptr,
                   slopes ? slopes_.data() : nullptr,
                   slopes ? slopes_.data() + (band + 1) * m * width() : nullptr,
                   arrays_.factor().t,
                   at,
                   at + (band + 1) * m * width(),
                   at + (band + 2) * m * width(),
                   at + (band + 3) * m * width()};
    }

    void reweight() {
        if (lane_rule_) return reweight_in_lanes(*lane_rule_);
        if constexpr (std::is_same_v<Method, pspline::IrsqrWeights>) {
            kernels_.spline.irsqr(spline_, {irsqr_.quantile, irsqr_.eps, masks_.empty() ? nullptr : arrays_.keep(),
                                            arrays_.weights(), previous_.data(), diff_sq_.data(), old_sq_.data()});
            for (std::size_t l = 0; l < width(); ++l) measures_[l] = relative_distance(diff_sq_[l], old_sq_[l]);
            return;
        }
        if constexpr (std::is_same_v<Method, pspline::MixtureWeights>) {
            // Per lane: whether it reweights for the first time, then its EM state (sigma and the three shares).
            em_.resize(5 * width());
            double* at = em_.data();
            for (std::size_t l = 0; l < width(); ++l) at[l] = lanes_[l].iteration == 1 ? 1.0 : 0.0;
            const std::size_t w = width();
            kernels_.spline.mixture(spline_, {mixture_.p, mixture_.symmetric, masks_.empty() ? nullptr : arrays_.keep(),
                                              arrays_.weights(), at, at + w, at + 2 * w, at + 3 * w, at + 4 * w,
                                              diff_sq_.data(), old_sq_.data()});
            for (std::size_t l = 0; l < width(); ++l) {
                if (lanes_[l].busy && lanes_[l].starting) start_mixture(l);
                measures_[l] = relative_distance(diff_sq_[l], old_sq_[l]);
            }
            return;
        }
        for (std::size_t l = 0; l < width(); ++l) {
            if (!lanes_[l].busy || failed_[l]) continue;
            whittaker::take_lane(arrays_.factor().t, width(), l, baseline_);
            whittaker::take_lane(arrays_.weights(), width(), l, weights_);
            measures_[l] = lanes_[l].method->reweight(baseline_, weights_, lanes_[l].iteration - 1);
            whittaker::put_lane(arrays_.weights(), width(), l, weights_);
        }
    }

    // MixtureEm::start on lane l's first fit, in place of the EM step the lane's kernel took; the EM's state
    // starts afresh at the lane's next reweighting.
    void start_mixture(std::size_t l) {
        const std::size_t w = width();
        const double* y = arrays_.y();
        const double* fit = arrays_.factor().t;
        double* weights = arrays_.weights();
        for (std::size_t i = 0; i < n_; ++i) {
            if (masks_.empty() || arrays_.keep()[i * w + l] > 0.0) {
                weights[i * w + l] = y[i * w + l] > fit[i * w + l] ? mixture_.p : 1.0 - mixture_.p;
            }
        }
    }

    void reweight_in_lanes(const whittaker::LaneRule& rule) {
        for (std::size_t l = 0; l < width(); ++l) {
            const double t = static_cast<double>(lanes_[l].iteration);
            iteration_[l] = t;
            growth_[l] = rule.kind == whittaker::LaneRule::Kind::LsrPls ? std::pow(10.0, t) : std::exp(t);
        }
        const whittaker::LaneBlock block{n_,
                                         arrays_.y(),
                                         arrays_.weights(),
                                         masks_.empty() ? nullptr : arrays_.keep(),
                                         arrays_.factor(),
                                         arrays_.inv_d(),
                                         arrays_.upper(),
                                         arrays_.state(),
                                         iteration_.data(),
                                         first_.data(),
                                         last_.data(),
                                         k_.data(),
                                         growth_.data()};
        kernels_.rules.reweight(block, rule, {diff_sq_.data(), old_sq_.data()});
        if (rule.kind == whittaker::LaneRule::Kind::AirPlsShare) {
            kernels_.rules.negative_sums(block, sums_.data());
            for (std::size_t l = 0; l < width(); ++l) {
                measures_[l] = std::isnan(diff_sq_[l]) ? diff_sq_[l] : sums_[l] / scale_[l];
            }
            return;
        }
        for (std::size_t l = 0; l < width(); ++l) measures_[l] = relative_change(diff_sq_[l], old_sq_[l]);
    }

    // fit_into's decision after iteration k, for this lane's spectrum.
    void settle(std::size_t l) {
        auto& lane = lanes_[l];
        if (failed_[l]) {
            outcomes_[lane.item] = {{}, linalg::banded::not_positive_definite};
            lane.busy = false;
            // The lane computes ordinary numbers again until it takes the next spectrum.
            std::fill(baseline_.begin(), baseline_.end(), 0.0);
            arrays_.put_spectrum(l, baseline_, Mask{});
            return;
        }
        if (lane.starting) {
            lane.starting = false;
            return;
        }
        const double measure = measures_[l];
        const std::uint64_t solves = params_.max_iter + 1;
        if (std::isnan(measure)) return finish(l, {lane.iteration - 1, lane.measure, false});
        lane.measure = measure;
        if (measure < params_.tol) {
            finish(l, {lane.iteration, measure, true});
        } else if (lane.iteration == solves) {
            finish(l, {solves, measure, false});
        } else {
            ++lane.iteration;
        }
    }

    void finish(std::size_t l, FitReport report) {
        auto& lane = lanes_[l];
        whittaker::take_lane(arrays_.factor().t, width(), l, baselines_.subspan(lane.item * n_, n_));
        outcomes_[lane.item] = {report, std::nullopt};
        lane.busy = false;
    }

    const Kernels& kernels_;
    std::optional<whittaker::LaneRule> lane_rule_;
    const Emplace& emplace_;
    std::span<const double> ys_;
    std::size_t n_;
    Mask masks_;
    std::span<const double> x_;
    pspline::PsplineParams params_;
    std::span<double> baselines_;
    std::span<ItemOutcome> outcomes_;
    LaneArrays arrays_;
    std::vector<Lane<Method>> lanes_;
    std::unique_ptr<bool[]> failed_;
    std::vector<double> iteration_, growth_, k_, first_, last_, diff_sq_, old_sq_, measures_, sums_, scale_;
    std::vector<double> baseline_, weights_;  // one lane's, for a rule without a lane form
    pspline::PsplineWorkspace shared_;        // the basis, and each spectrum's checks and first weights
    std::optional<linalg::PenaltyRows> penalty_;
    std::vector<double> system_, slopes_, previous_, scaled_store_;
    std::vector<pspline::MiddlePlan> plan_;
    pspline::LaneScaledPenalty scaled_{};
    pspline::IrsqrParams irsqr_{};
    pspline::MixtureParams mixture_{};
    std::vector<double> em_;
    pspline::LaneSpline spline_{};
    std::size_t next_ = 0;
};

}  // namespace quorvel::dispatch::spline_lanes
