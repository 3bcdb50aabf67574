// BrPLS' two loops over the lanes of any solve: brpls_loops per lane, each spectrum with the bits of its own fit.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "lane_arrays.hpp"
#include "lane_fit.hpp"
#include "whittaker/brpls.hpp"

namespace quorvel::whittaker {

// Where one lane's spectrum is in BrPLS' two loops (brpls_loops), and what it reports.
struct BrPlsLane {
    std::size_t item = 0;
    double beta = 0.5, change = 0.0;
    std::uint64_t inner = 1, outer = 1, fits = 0;
    double used = 0.0;  // samples
    bool busy = false;
};

// The fits of one system: enter(arrays, l, y, mask, outcome) checks a spectrum as its own fit does and, when it
// passes, puts it into lane l (put_spectrum); solve(block, failed) writes every lane's baseline to block.factor.t
// from block.weights, flagging the lanes whose solve fails with `failure`.
template <class Solver>
class BrPlsLaneRun {
public:
    BrPlsLaneRun(const LaneKernels& kernels, Solver& solver, const BrPlsWeights& rule, std::span<const double> ys,
                 std::size_t n, double tol, std::uint64_t max_iter, Mask masks, std::span<double> baselines,
                 std::span<ItemOutcome> outcomes)
        : kernels_(kernels), solver_(solver), rule_(rule), ys_(ys), n_(n), tol_(tol), max_iter_(max_iter),
          masks_(masks), baselines_(baselines), outcomes_(outcomes), arrays_(n, kernels.width, !masks.empty()),
          lanes_(kernels.width), sigma_(kernels.width, 1.0), ratio_(kernels.width, 0.0), prior_(kernels.width, 1.0),
          diff_sq_(kernels.width), old_sq_(kernels.width), failed_(std::make_unique<bool[]>(kernels.width)),
          block_{n,       arrays_.y(), arrays_.weights(), masks.empty() ? nullptr : arrays_.keep(),
                 arrays_.factor(), arrays_.inv_d(), arrays_.upper(), arrays_.state(),
                 nullptr, nullptr, nullptr, nullptr, nullptr} {
        for (auto& sums : sums_) sums.resize(kernels.width);
    }

    void run() {
        while (refill()) {
            solver_.solve(block_, failed_.get());
            posteriors();
            kernels_.brpls_reweight(block_, {sigma_.data(), ratio_.data(), prior_.data()},
                                    {diff_sq_.data(), old_sq_.data()}, weight_sums_.data());
            baseline_changes();
            for (std::size_t l = 0; l < lanes_.size(); ++l) {
                keep_[l] = false;
                if (lanes_[l].busy) settle(l);
            }
            keep_baselines();
        }
    }

private:
    static std::uint64_t capped(std::uint64_t most) { return most + (most < UINT64_MAX ? 1 : 0); }
    std::size_t width() const { return kernels_.width; }
    double& at(double* rows, std::size_t i, std::size_t l) const { return rows[i * width() + l]; }

    bool refill() {
        return refill_lanes(lanes_, next_, outcomes_.size(), [&](std::size_t l, std::size_t item) { load(l, item); });
    }

    // The spectrum's y, unit weights on its used samples, and y as the baseline before the first.
    void load(std::size_t l, std::size_t item) {
        const auto y = ys_.subspan(item * n_, n_);
        const Mask mask = masks_.empty() ? Mask{} : masks_.subspan(item * n_, n_);
        if (!solver_.enter(arrays_, l, y, mask, outcomes_[item])) return;
        for (std::size_t i = 0; i < n_; ++i) at(arrays_.state(), i, l) = y[i];
        lanes_[l] = {item, 0.5, 0.0, 1, 1, 0, static_cast<double>(used_count(n_, mask)), true};
    }

    // Each lane's posterior from its residuals (update_masked); a lane without two residuals below the
    // baseline and one above keeps a harmless one, and its fit ends.
    void posteriors() {
        kernels_.brpls_sums(block_, {sums_[0].data(), sums_[1].data(), sums_[2].data(), sums_[3].data()});
        for (std::size_t l = 0; l < width(); ++l) {
            const double squares = sums_[0][l], below = sums_[1][l], heights = sums_[2][l], above = sums_[3][l];
            exhausted_[l] = below < 2.0 || above == 0.0;
            if (exhausted_[l]) {
                sigma_[l] = 1.0, ratio_[l] = 0.0, prior_[l] = 1.0;
                continue;
            }
            const double sigma = std::sqrt(squares / below), mu = heights / above, beta = lanes_[l].beta;
            sigma_[l] = sigma, ratio_[l] = sigma / mu;
            prior_[l] = beta / (1.0 - beta) * std::sqrt(std::numbers::pi / 2.0) * (sigma / mu);
        }
    }

    // ||z - previous|| / ||previous|| per lane (baseline_change).
    void baseline_changes() {
        kernels_.baseline_change(block_, {sums_[0].data(), sums_[1].data()});
        for (std::size_t l = 0; l < width(); ++l) {
            const double diff = sums_[0][l], norm = sums_[1][l];
            changes_[l] = norm == 0.0 ? (diff == 0.0 ? 0.0 : std::numeric_limits<double>::infinity())
                                      : std::sqrt(diff) / std::sqrt(norm);
        }
    }

    double used_mean_weight(std::size_t l) const { return weight_sums_[l] / lanes_[l].used; }

    // The baselines of the lanes that go on become the previous ones: the whole block in one copy, the few busy lanes
    // that keep theirs set aside and put back, rather than every lane down its strided column. An idle lane's is
    // rewritten when it takes its next spectrum.
    void keep_baselines() {
        double* state = arrays_.state();
        const auto held = [&](std::size_t l) { return lanes_[l].busy && !keep_[l]; };
        for (std::size_t l = 0; l < width(); ++l) {
            if (held(l)) take_lane(state, width(), l, std::span(set_aside_).subspan(l * n_, n_));
        }
        std::copy_n(block_.factor.t, n_ * width(), state);
        for (std::size_t l = 0; l < width(); ++l) {
            if (held(l)) put_lane(state, width(), l, std::span<const double>(set_aside_).subspan(l * n_, n_));
        }
    }

    // brpls_loops' decisions after one solve and reweighting of lane l.
    void settle(std::size_t l) {
        BrPlsLane& lane = lanes_[l];
        if (failed_[l]) return fail(l);
        if (exhausted_[l] || std::isnan(relative_change(diff_sq_[l], old_sq_[l]))) return finish(l, false);
        ++lane.fits;
        lane.change = changes_[l];
        const bool settled = lane.change < tol_;
        if (!settled) {
            keep_[l] = true;
            if (lane.inner < capped(max_iter_)) return void(++lane.inner);
        }
        const double next = 1.0 - used_mean_weight(l);
        if (std::fabs(next - lane.beta) < rule_.tol_2) return finish(l, settled);
        if (lane.outer == capped(rule_.max_iter_2)) return finish(l, false);
        lane.beta = next, ++lane.outer, lane.inner = 1;
    }

    void fail(std::size_t l) {
        outcomes_[lanes_[l].item] = {{}, Solver::failure};
        lanes_[l].busy = false;
    }

    void finish(std::size_t l, bool converged) {
        BrPlsLane& lane = lanes_[l];
        take_lane(block_.factor.t, width(), l, baselines_.subspan(lane.item * n_, n_));
        outcomes_[lane.item] = {FitReport{lane.fits, lane.change, converged}, std::nullopt};
        lane.busy = false;
    }

    const LaneKernels& kernels_;
    Solver& solver_;
    BrPlsWeights rule_;
    std::span<const double> ys_;
    std::size_t n_;
    double tol_;
    std::uint64_t max_iter_;
    Mask masks_;
    std::span<double> baselines_;
    std::span<ItemOutcome> outcomes_;
    LaneArrays arrays_;
    std::vector<BrPlsLane> lanes_;
    std::vector<double> sigma_, ratio_, prior_, diff_sq_, old_sq_;
    std::vector<double> changes_ = std::vector<double>(lanes_.size());
    std::vector<bool> exhausted_ = std::vector<bool>(lanes_.size());
    std::vector<char> keep_ = std::vector<char>(lanes_.size());  // lanes whose baseline becomes the previous one
    std::vector<double> set_aside_ = std::vector<double>(lanes_.size() * n_);  // the others' previous baselines
    std::vector<double> weight_sums_ = std::vector<double>(lanes_.size());    // per lane, of its used weights
    std::array<std::vector<double>, 4> sums_;  // width each: what the sum kernels give per lane
    std::unique_ptr<bool[]> failed_;
    LaneBlock block_;
    std::size_t next_ = 0;
};

}  // namespace quorvel::whittaker
