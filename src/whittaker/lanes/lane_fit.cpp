#include "lane_fit.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "linalg/pentadiagonal.hpp"
#include "simd/cpu.hpp"

namespace quorvel::whittaker {
namespace {

// The rows of one block, each array on a 64-byte boundary so that no lane load splits a cache line.
class LaneArrays {
public:
    LaneArrays(std::size_t n, std::size_t width, bool masked)
        : len_(n * width), stride_((len_ + 7) / 8 * 8), storage_(7 * stride_ + 8, 0.0) {
        const auto misalignment = reinterpret_cast<std::uintptr_t>(storage_.data()) % 64 / sizeof(double);
        base_ = storage_.data() + (8 - misalignment) % 8;
        // A lane without a spectrum solves y = 0 with unit weights, so that it computes ordinary
        // numbers and never slows the others down with subnormal ones.
        std::fill_n(weights(), len_, 1.0);
        if (masked) std::fill_n(keep(), len_, 1.0);
    }
    LaneArrays(const LaneArrays&) = delete;
    LaneArrays& operator=(const LaneArrays&) = delete;

    double* y() { return base_; }
    double* weights() { return base_ + stride_; }
    double* keep() { return base_ + 2 * stride_; }
    linalg::pentadiagonal::LaneFactor factor() {
        return {base_ + 3 * stride_, base_ + 4 * stride_, base_ + 5 * stride_, base_ + 6 * stride_};
    }

private:
    std::size_t len_, stride_;
    std::vector<double> storage_;
    double* base_;
};

struct Lane {
    std::size_t item = 0;
    std::uint64_t iteration = 0;  // one-based, as the engine's k
    double scale = 1.0;
    bool busy = false;
};

// The values each kernel call reads or writes per lane.
struct PerLane {
    explicit PerLane(std::size_t width)
        : iteration(width), first(width), last(width), diff_sq(width), old_sq(width), sums(width),
          failed(std::make_unique<bool[]>(width)) {}
    std::vector<double> iteration, first, last, diff_sq, old_sq, sums;
    std::unique_ptr<bool[]> failed;
};

class LaneRun {
public:
    LaneRun(const LaneKernels& kernels, const LaneRule& rule, std::span<const double> ys, std::size_t n,
            const WhittakerParams& params, Mask masks, StopRule stop, std::span<double> baselines,
            std::span<ItemOutcome> outcomes)
        : kernels_(kernels), rule_(rule), ys_(ys), n_(n), params_(params), masks_(masks),
          by_residuals_(stop == StopRule::NegativeResiduals), baselines_(baselines), outcomes_(outcomes),
          arrays_(n, kernels.width, !masks.empty()), lanes_(kernels.width), per_lane_(kernels.width),
          penalty_(linalg::pentadiagonal::second_order_penalty(n, params.lambda)),
          block_{n,
                 arrays_.y(),
                 arrays_.weights(),
                 masks.empty() ? nullptr : arrays_.keep(),
                 arrays_.factor(),
                 per_lane_.iteration.data(),
                 per_lane_.first.data(),
                 per_lane_.last.data()} {}

    void run() {
        while (refill()) {
            kernels_.solve(block_, penalty_, per_lane_.failed.get());
            if (by_residuals_) kernels_.negative_sums(block_, per_lane_.sums.data());
            reweight();
            for (std::size_t l = 0; l < lanes_.size(); ++l) {
                if (lanes_[l].busy) settle(l);
            }
        }
    }

private:
    std::size_t width() const { return kernels_.width; }

    // Gives every idle lane the next spectrum that passes validation; false once all lanes are idle.
    bool refill() {
        bool any = false;
        for (std::size_t l = 0; l < lanes_.size(); ++l) {
            while (!lanes_[l].busy && next_ < outcomes_.size()) load(l, next_++);
            any = any || lanes_[l].busy;
        }
        return any;
    }

    void load(std::size_t l, std::size_t item) {
        const auto y = ys_.subspan(item * n_, n_);
        const Mask mask = masks_.empty() ? Mask{} : masks_.subspan(item * n_, n_);
        Status valid = validate_fit(y, params_, n_);
        if (valid) valid = validate_mask(n_, mask);
        if (!valid) {
            outcomes_[item] = {{}, valid.error()};
            return;
        }
        const std::size_t w = width();
        for (std::size_t i = 0; i < n_; ++i) {
            arrays_.y()[i * w + l] = y[i];
            const double keep = is_masked_out(mask, i) ? 0.0 : 1.0;
            arrays_.weights()[i * w + l] = keep;
            if (!mask.empty()) arrays_.keep()[i * w + l] = keep;
        }
        if (!mask.empty()) {
            const auto used = [](bool keep) { return keep; };
            per_lane_.first[l] = static_cast<double>(std::find_if(mask.begin(), mask.end(), used) - mask.begin());
            per_lane_.last[l] = static_cast<double>(mask.rend() - std::find_if(mask.rbegin(), mask.rend(), used) - 1);
        }
        per_lane_.iteration[l] = 1.0;
        lanes_[l] = {item, 1, by_residuals_ ? residual_scale(y, mask) : 1.0, true};
    }

    void reweight() {
        const LaneChange change{per_lane_.diff_sq.data(), per_lane_.old_sq.data()};
        switch (rule_.kind) {
            case LaneRule::Kind::Asls: kernels_.asls(block_, rule_.p, change); break;
            case LaneRule::Kind::ArPls: kernels_.arpls(block_, change); break;
            case LaneRule::Kind::AirPls: kernels_.airpls(block_, change); break;
        }
    }

    // The engine's decision after iteration k, for this lane's spectrum.
    void settle(std::size_t l) {
        Lane& lane = lanes_[l];
        if (per_lane_.failed[l]) {
            outcomes_[lane.item] = {{}, linalg::pentadiagonal::not_positive_definite};
            lane.busy = false;
            return;
        }
        const double measure = by_residuals_ ? per_lane_.sums[l] / lane.scale
                                             : relative_change(per_lane_.diff_sq[l], per_lane_.old_sq[l]);
        if (measure <= params_.tol) {
            finish(l, {lane.iteration, measure, true});
        } else if (lane.iteration == params_.max_iter) {
            finish(l, {params_.max_iter, measure, false});
        } else {
            ++lane.iteration;
            per_lane_.iteration[l] = static_cast<double>(lane.iteration);
        }
    }

    void finish(std::size_t l, FitReport report) {
        Lane& lane = lanes_[l];
        const double* t = block_.factor.t;
        double* out = baselines_.data() + lane.item * n_;
        for (std::size_t i = 0; i < n_; ++i) out[i] = t[i * width() + l];
        outcomes_[lane.item] = {report, std::nullopt};
        lane.busy = false;
    }

    const LaneKernels& kernels_;
    LaneRule rule_;
    std::span<const double> ys_;
    std::size_t n_;
    const WhittakerParams& params_;
    Mask masks_;
    bool by_residuals_;
    std::span<double> baselines_;
    std::span<ItemOutcome> outcomes_;
    LaneArrays arrays_;
    std::vector<Lane> lanes_;
    PerLane per_lane_;
    linalg::pentadiagonal::SecondOrderPenalty penalty_;
    LaneBlock block_;
    std::size_t next_ = 0;
};

}  // namespace

bool lane_path_available(LanePath path) { return path != LanePath::Avx2 || simd::avx2_available(); }

std::optional<LaneKernels> lane_kernels_for(LanePath path, std::size_t count, std::size_t n) {
    // A block holds seven arrays of width * n values; past 2^17 samples, where the solve waits on
    // memory anyway, the loop of single fits keeps to the memory of one spectrum.
    constexpr std::size_t longest_automatic = std::size_t{1} << 17;
    if (path == LanePath::ScalarLoop) return std::nullopt;
    if (path == LanePath::Automatic && (count < 2 || n > longest_automatic)) return std::nullopt;
#if defined(QUORVEL_AVX2)
    // Two registers keep the divider busy where one waits on its chain; a third spills the recurrence.
    if (path != LanePath::Interleaved && simd::avx2_available()) return avx2_lane_kernels(count <= 4 ? 1 : 2);
#endif
    return interleaved_lane_kernels();
}

void fit_lanes(const LaneKernels& kernels, const LaneRule& rule, std::span<const double> ys, std::size_t n,
               const WhittakerParams& params, Mask masks, StopRule stop, std::span<double> baselines,
               std::span<ItemOutcome> outcomes) {
    if (outcomes.empty()) return;
    LaneRun(kernels, rule, ys, n, params, masks, stop, baselines, outcomes).run();
}

}  // namespace quorvel::whittaker
