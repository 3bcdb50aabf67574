#include "lane_fit.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "lane_arrays.hpp"
#include "linalg/pentadiagonal.hpp"
#include "simd/cpu.hpp"

namespace quorvel::whittaker {
namespace {

struct Lane {
    std::size_t item = 0;
    std::uint64_t iteration = 0;  // one-based, as the engine's k
    double scale = 1.0;
    double measure = 0.0;  // of the last iteration
    bool busy = false;
};

// The values each kernel call reads or writes per lane.
struct PerLane {
    explicit PerLane(std::size_t width)
        : iteration(width), first(width), last(width), k(width), growth(width), diff_sq(width), old_sq(width),
          sums(width), failed(std::make_unique<bool[]>(width)) {}
    std::vector<double> iteration, first, last, k, growth, diff_sq, old_sq, sums;
    std::unique_ptr<bool[]> failed;
};

using Kind = LaneRule::Kind;

// The rules after the first three follow the reference library's loop (see ReferenceLoop).
bool reference_loop(Kind kind) {
    switch (kind) {
        case Kind::Asls:
        case Kind::ArPls:
        case Kind::AirPls: return false;
        case Kind::Iasls:
        case Kind::DrPls:
        case Kind::IarPls:
        case Kind::AsPls:
        case Kind::Psalsa:
        case Kind::DerPsalsa:
        case Kind::LsrPls:
        case Kind::AirPlsShare: return true;
    }
    return false;
}

LaneSystem::Kind system_of(Kind kind) {
    switch (kind) {
        case Kind::Iasls: return LaneSystem::Kind::Iasls;
        case Kind::DrPls: return LaneSystem::Kind::DrPls;
        case Kind::AsPls: return LaneSystem::Kind::AsPls;
        case Kind::Asls:
        case Kind::ArPls:
        case Kind::AirPls:
        case Kind::IarPls:
        case Kind::Psalsa:
        case Kind::DerPsalsa:
        case Kind::LsrPls:
        case Kind::AirPlsShare: break;
    }
    return LaneSystem::Kind::Weighted;
}

// e^t or 10^t for the weights that steepen with the iteration t, as the scalar forms form it.
double growth_at(Kind kind, double t) {
    switch (kind) {
        case Kind::DrPls:
        case Kind::IarPls: return std::exp(t);
        case Kind::LsrPls: return std::pow(10.0, t);
        case Kind::Asls:
        case Kind::ArPls:
        case Kind::AirPls:
        case Kind::Iasls:
        case Kind::AsPls:
        case Kind::Psalsa:
        case Kind::DerPsalsa:
        case Kind::AirPlsShare: break;
    }
    return 1.0;
}

class LaneRun {
public:
    LaneRun(const LaneKernels& kernels, const LaneRule& rule, std::span<const double> ys, std::size_t n,
            const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks, StopRule stop,
            std::span<double> baselines, std::span<ItemOutcome> outcomes)
        : kernels_(kernels), rule_(rule), ys_(ys), n_(n), params_(params), masks_(masks),
          reference_(reference_loop(rule.kind)), by_residuals_(!reference_ && stop == StopRule::NegativeResiduals),
          cholesky_(!reference_ && params.diff_order == 2),
          solves_(params.max_iter + (reference_ && params.max_iter < UINT64_MAX ? 1 : 0)), baselines_(baselines),
          outcomes_(outcomes), arrays_(n, kernels.width, !masks.empty()), lanes_(kernels.width),
          per_lane_(kernels.width), penalty_(linalg::pentadiagonal::second_order_penalty(n, params.lambda)),
          band_penalty_(n, params.diff_order, params.lambda), first_differences_(n, 1, 1.0),
          system_{system_of(rule.kind), params.diff_order, &band_penalty_, &first_differences_, rule.lam_1, rule.eta},
          block_{n,
                 arrays_.y(),
                 arrays_.weights(),
                 masks.empty() ? nullptr : arrays_.keep(),
                 arrays_.factor(),
                 arrays_.inv_d(),
                 arrays_.upper(),
                 arrays_.state(),
                 per_lane_.iteration.data(),
                 per_lane_.first.data(),
                 per_lane_.last.data(),
                 per_lane_.k.data(),
                 per_lane_.growth.data()},
          scratch_(n) {
        // The rules' start (iasls' quadratic) and drPLS' exchanging solve read the positions from scratch_.
        scratch_.uneven = uneven;
        if (uneven.active) {
            cholesky_ = false;
            system_.uneven_penalty = &scratch_.uneven.penalty;
            system_.uneven_first = &scratch_.uneven.first;
        }
    }

    void run() {
        while (refill()) {
            if (cholesky_) {
                kernels_.solve(block_, penalty_, per_lane_.failed.get());
            } else {
                kernels_.solve_band(block_, system_, per_lane_.failed.get());
            }
            if (rule_.kind == Kind::DrPls) exchange_rows_where_failed();
            if (by_residuals_) kernels_.negative_sums(block_, per_lane_.sums.data());
            for (std::size_t l = 0; l < lanes_.size(); ++l) {
                per_lane_.growth[l] = growth_at(rule_.kind, per_lane_.iteration[l]);
            }
            kernels_.reweight(block_, rule_, {per_lane_.diff_sq.data(), per_lane_.old_sq.data()});
            for (std::size_t l = 0; l < lanes_.size(); ++l) {
                if (lanes_[l].busy) settle(l);
            }
        }
    }

private:
    std::size_t width() const { return kernels_.width; }

    bool refill() {
        return refill_lanes(lanes_, next_, outcomes_.size(), [&](std::size_t l, std::size_t item) { load(l, item); });
    }

    void load(std::size_t l, std::size_t item) {
        const auto y = ys_.subspan(item * n_, n_);
        const Mask mask = masks_.empty() ? Mask{} : masks_.subspan(item * n_, n_);
        if (!enter_lane(arrays_, l, y, mask, params_, outcomes_[item])) return;
        if (!mask.empty()) {
            const auto used = [](bool keep) { return keep; };
            per_lane_.first[l] = static_cast<double>(std::find_if(mask.begin(), mask.end(), used) - mask.begin());
            per_lane_.last[l] = static_cast<double>(mask.rend() - std::find_if(mask.rbegin(), mask.rend(), used) - 1);
        }
        start(l, y, mask);
        per_lane_.iteration[l] = 1.0;
        lanes_[l] = {item, 1, by_residuals_ ? residual_scale(y, mask) : 1.0, 0.0, true};
    }

    // What the rule's own start gives a single fit: initial weights, a resolved k, a screen, penalty scales.
    void start(std::size_t l, std::span<const double> y, Mask mask) {
        scratch_.iter.resize(n_);
        switch (rule_.kind) {
            case Kind::Iasls:
                whittaker::start(IaslsWeights{rule_.p, rule_.lam_1}, y, mask, scratch_);
                put_lane(arrays_.weights(), width(), l, scratch_.iter.weights);
                break;
            case Kind::Psalsa:
                per_lane_.k[l] = whittaker::start(PsalsaWeights{rule_.p, rule_.k}, y, mask, scratch_).k;
                break;
            case Kind::DerPsalsa: {
                const DerPsalsaWeights rule{rule_.p, rule_.k, rule_.smooth_half_window, rule_.num_smooths};
                const DerPsalsaRun run = whittaker::start(rule, y, mask, scratch_);
                per_lane_.k[l] = run.k;
                put_lane(arrays_.state(), width(), l, run.screen);
                break;
            }
            case Kind::AsPls: {
                const AsPlsRun run = whittaker::start(AsPlsWeights{rule_.coef, rule_.alpha}, y, mask, scratch_);
                put_lane(arrays_.state(), width(), l, run.alpha);
                break;
            }
            case Kind::Asls:
            case Kind::ArPls:
            case Kind::AirPls:
            case Kind::DrPls:
            case Kind::IarPls:
            case Kind::LsrPls:
            case Kind::AirPlsShare: break;
        }
    }

    // drPLS solves where the LDU's pivots fail as a single fit does, by LU with row exchanges.
    void exchange_rows_where_failed() {
        for (std::size_t l = 0; l < lanes_.size(); ++l) {
            if (!lanes_[l].busy || !per_lane_.failed[l]) continue;
            const auto y = ys_.subspan(lanes_[l].item * n_, n_);
            scratch_.iter.resize(n_);
            take_lane(arrays_.weights(), width(), l, scratch_.iter.weights);
            auto& baseline = scratch_.rhs;
            baseline.resize(n_);
            const Status solved = solve_exchanging(DrPlsWeights{rule_.eta}, y, baseline, scratch_, params_);
            if (!solved) continue;  // the lane stays failed, with the error of the exchanging solve
            put_lane(block_.factor.t, width(), l, baseline);
            per_lane_.failed[l] = false;
        }
    }

    // The engine's decision after iteration k, for this lane's spectrum.
    void settle(std::size_t l) {
        Lane& lane = lanes_[l];
        if (per_lane_.failed[l]) {
            const LinearSolveFailed failure =
                rule_.kind == Kind::DrPls ? linalg::banded::singular : linalg::pentadiagonal::not_positive_definite;
            outcomes_[lane.item] = {{}, failure};
            lane.busy = false;
            return;
        }
        const double measure = by_residuals_ ? per_lane_.sums[l] / lane.scale
                                             : relative_change(per_lane_.diff_sq[l], per_lane_.old_sq[l]);
        if (reference_ && std::isnan(measure)) return finish(l, {lane.iteration - 1, lane.measure, false});
        lane.measure = measure;
        if (reference_ ? measure < params_.tol : measure <= params_.tol) {
            finish(l, {lane.iteration, measure, true});
        } else if (lane.iteration == solves_) {
            finish(l, {solves_, measure, false});
        } else {
            ++lane.iteration;
            per_lane_.iteration[l] = static_cast<double>(lane.iteration);
        }
    }

    void finish(std::size_t l, FitReport report) {
        Lane& lane = lanes_[l];
        take_lane(block_.factor.t, width(), l, baselines_.subspan(lane.item * n_, n_));
        outcomes_[lane.item] = {report, std::nullopt};
        lane.busy = false;
    }

    const LaneKernels& kernels_;
    LaneRule rule_;
    std::span<const double> ys_;
    std::size_t n_;
    const WhittakerParams& params_;
    Mask masks_;
    bool reference_, by_residuals_, cholesky_;
    std::uint64_t solves_;
    std::span<double> baselines_;
    std::span<ItemOutcome> outcomes_;
    LaneArrays arrays_;
    std::vector<Lane> lanes_;
    PerLane per_lane_;
    linalg::pentadiagonal::SecondOrderPenalty penalty_;
    linalg::PenaltyRows band_penalty_, first_differences_;
    LaneSystem system_;
    LaneBlock block_;
    WhittakerWorkspace scratch_;  // the rules' start on one spectrum
    std::size_t next_ = 0;
};

}  // namespace

bool lane_path_available(LanePath path) { return path != LanePath::Avx2 || simd::avx2_available(); }

std::optional<LaneKernels> lane_kernels_for(LanePath path, std::size_t count, std::size_t n, bool small_state) {
    // A block holds seven arrays of width * n values; past 2^17 samples, where the solve waits on
    // memory anyway, the loop of single fits keeps to the memory of one spectrum.
    constexpr std::size_t longest_automatic = std::size_t{1} << 17;
    if (path == LanePath::ScalarLoop) return std::nullopt;
    if (path == LanePath::Automatic && (count < 2 || n > longest_automatic)) return std::nullopt;
#if defined(QUORVEL_AVX2)
    // Two registers keep the divider busy where one waits on its chain (a third spills the recurrence). The
    // band solve's two sweeps from both ends are two chains in one register already, and from half-width 2
    // on, two registers of them spill their state; the first three rules keep two at every order.
    if (path != LanePath::Interleaved && simd::avx2_available()) {
        return avx2_lane_kernels(small_state && count > 4 ? 2 : 1);
    }
#endif
    return interleaved_lane_kernels();
}

void fit_lanes(const LaneKernels& kernels, const LaneRule& rule, std::span<const double> ys, std::size_t n,
               const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks, StopRule stop,
               std::span<double> baselines, std::span<ItemOutcome> outcomes) {
    if (outcomes.empty()) return;
    LaneRun(kernels, rule, ys, n, params, uneven, masks, stop, baselines, outcomes).run();
}

}  // namespace quorvel::whittaker
