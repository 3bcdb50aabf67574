#include "brpls_lanes.hpp"

#include <array>
#include <cmath>
#include <memory>
#include <limits>
#include <numbers>
#include <vector>

#include "lane_arrays.hpp"

namespace quorvel::whittaker {
namespace {

// Where one lane's spectrum is in BrPLS' two loops (brpls_loops), and what it reports.
struct BrPlsLane {
    std::size_t item = 0;
    double beta = 0.5, change = 0.0;
    std::uint64_t inner = 1, outer = 1, fits = 0;
    double used = 0.0;  // samples
    bool busy = false;
};

class BrPlsLaneRun {
public:
    BrPlsLaneRun(const LaneKernels& kernels, const BrPlsWeights& rule, std::span<const double> ys, std::size_t n,
                 const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks,
                 std::span<double> baselines, std::span<ItemOutcome> outcomes)
        : kernels_(kernels), rule_(rule), ys_(ys), n_(n), params_(params), masks_(masks), baselines_(baselines),
          outcomes_(outcomes), arrays_(n, kernels.width, !masks.empty()), lanes_(kernels.width),
          sigma_(kernels.width, 1.0), ratio_(kernels.width, 0.0), prior_(kernels.width, 1.0),
          diff_sq_(kernels.width), old_sq_(kernels.width),
          failed_(std::make_unique<bool[]>(kernels.width)), penalty_(n, params.diff_order, params.lambda),
          system_{LaneSystem::Kind::Weighted, params.diff_order, &penalty_, nullptr, 0.0, 0.0},
          block_{n,       arrays_.y(), arrays_.weights(), masks.empty() ? nullptr : arrays_.keep(),
                 arrays_.factor(), arrays_.inv_d(), arrays_.upper(), arrays_.state(),
                 nullptr, nullptr, nullptr, nullptr, nullptr} {
        for (auto& sums : sums_) sums.resize(kernels.width);
        if (uneven.active) system_.uneven_penalty = &uneven.penalty;
    }

    void run() {
        while (refill()) {
            kernels_.solve_band(block_, system_, failed_.get());
            posteriors();
            kernels_.brpls_reweight(block_, {sigma_.data(), ratio_.data(), prior_.data()},
                                    {diff_sq_.data(), old_sq_.data()});
            baseline_changes();
            for (std::size_t l = 0; l < lanes_.size(); ++l) {
                if (lanes_[l].busy) settle(l);
            }
        }
    }

private:
    static std::uint64_t capped(std::uint64_t most) { return most + (most < UINT64_MAX ? 1 : 0); }
    std::size_t width() const { return kernels_.width; }
    double& at(double* rows, std::size_t i, std::size_t l) const { return rows[i * width() + l]; }
    bool used(std::size_t i, std::size_t l) const { return !block_.keep || block_.keep[i * width() + l] > 0.0; }

    bool refill() {
        return refill_lanes(lanes_, next_, outcomes_.size(), [&](std::size_t l, std::size_t item) { load(l, item); });
    }

    // The spectrum's y, unit weights on its used samples, and y as the baseline before the first.
    void load(std::size_t l, std::size_t item) {
        const auto y = ys_.subspan(item * n_, n_);
        const Mask mask = masks_.empty() ? Mask{} : masks_.subspan(item * n_, n_);
        if (!enter_lane(arrays_, l, y, mask, params_, outcomes_[item])) return;
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

    double used_mean_weight(std::size_t l) const {
        double sum = 0.0;
        for (std::size_t i = 0; i < n_; ++i) {
            if (used(i, l)) sum = sum + block_.weights[i * width() + l];
        }
        return sum / lanes_[l].used;
    }

    // brpls_loops' decisions after one solve and reweighting of lane l.
    void settle(std::size_t l) {
        BrPlsLane& lane = lanes_[l];
        if (failed_[l]) return fail(l);
        if (exhausted_[l] || std::isnan(relative_change(diff_sq_[l], old_sq_[l]))) return finish(l, false);
        ++lane.fits;
        lane.change = changes_[l];
        const bool settled = lane.change < params_.tol;
        if (!settled) {
            for (std::size_t i = 0; i < n_; ++i) at(arrays_.state(), i, l) = at(block_.factor.t, i, l);
            if (lane.inner < capped(params_.max_iter)) return void(++lane.inner);
        }
        const double next = 1.0 - used_mean_weight(l);
        if (std::fabs(next - lane.beta) < rule_.tol_2) return finish(l, settled);
        if (lane.outer == capped(rule_.max_iter_2)) return finish(l, false);
        lane.beta = next, ++lane.outer, lane.inner = 1;
    }

    void fail(std::size_t l) {
        outcomes_[lanes_[l].item] = {{}, linalg::pentadiagonal::not_positive_definite};
        lanes_[l].busy = false;
    }

    void finish(std::size_t l, bool converged) {
        BrPlsLane& lane = lanes_[l];
        take_lane(block_.factor.t, width(), l, baselines_.subspan(lane.item * n_, n_));
        outcomes_[lane.item] = {FitReport{lane.fits, lane.change, converged}, std::nullopt};
        lane.busy = false;
    }

    const LaneKernels& kernels_;
    BrPlsWeights rule_;
    std::span<const double> ys_;
    std::size_t n_;
    const WhittakerParams& params_;
    Mask masks_;
    std::span<double> baselines_;
    std::span<ItemOutcome> outcomes_;
    LaneArrays arrays_;
    std::vector<BrPlsLane> lanes_;
    std::vector<double> sigma_, ratio_, prior_, diff_sq_, old_sq_;
    std::vector<double> changes_ = std::vector<double>(lanes_.size());
    std::vector<bool> exhausted_ = std::vector<bool>(lanes_.size());
    std::array<std::vector<double>, 4> sums_;  // width each: what the sum kernels give per lane
    std::unique_ptr<bool[]> failed_;
    linalg::PenaltyRows penalty_;
    LaneSystem system_;
    LaneBlock block_;
    std::size_t next_ = 0;
};

}  // namespace

void fit_brpls_lanes(const LaneKernels& kernels, const BrPlsWeights& rule, std::span<const double> ys, std::size_t n,
                     const WhittakerParams& params, const UnevenPenalties& uneven, Mask masks,
                     std::span<double> baselines, std::span<ItemOutcome> outcomes) {
    if (outcomes.empty()) return;
    BrPlsLaneRun(kernels, rule, ys, n, params, uneven, masks, baselines, outcomes).run();
}

}  // namespace quorvel::whittaker
