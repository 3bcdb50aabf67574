// The one-dimensional Whittaker engine with its own parameters, and the weight rules with masks.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "checks.hpp"
#include "targets.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/engine.hpp"
#include "whittaker/many.hpp"

namespace quorvel::fuzz {
namespace {

void check_report(const FitReport& report, const whittaker::WhittakerParams& params,
                  const std::vector<double>* history) {
    require(report.iterations >= 1 && report.iterations <= params.max_iter, "iteration count out of range");
    require(report.converged == (report.last_change <= params.tol), "convergence flag contradicts the change");
    require(report.converged || report.iterations == params.max_iter, "stopped early without converging");
    if (!history) return;
    require(history->size() == report.iterations, "history length differs from the iteration count");
    require(same_bits({&history->back(), 1}, {&report.last_change, 1}), "history ends on another change");
}

// A workspace that served another input first must give the bits of a fresh one.
template <class Rule>
void fit_rule(ByteReader& in, const Rule& rule) {
    const std::vector<double> y = in.signal(in.length(4096));
    const whittaker::WhittakerParams params{in.real(), in.upto(40), in.real()};
    WhittakerWorkspace workspace(in.upto(64));
    if (in.flag()) {
        const std::vector<double> other = in.signal(in.upto(256));
        std::vector<double> scratch(other.size(), 0.0);
        failed(whittaker::fit_into_impl(other, params, rule, scratch, workspace, nullptr));
    }
    std::vector<double> baseline(in.around(y.size()), 0.0), history;
    std::vector<double>* kept = in.flag() ? &history : nullptr;
    const auto report = whittaker::fit_into_impl(y, params, rule, baseline, workspace, kept);
    const auto fresh = whittaker::fit_alloc(y, params, rule);
    if (failed(report)) {
        require(baseline.size() != y.size() || (failed(fresh) && same_error(fresh, Result<Fit>(report.error()))),
                "fit into a workspace and allocating fit fail differently");
        return;
    }
    require(baseline.size() == y.size(), "a fit accepted a baseline of the wrong length");
    require(!failed(fresh) && same_bits(baseline, fresh.value().baseline), "a reused workspace changed the fit");
    check_report(report.value(), params, kept);
}

struct MaskStorage {
    std::unique_ptr<bool[]> values;
    std::size_t size = 0;
    whittaker::Mask span() const { return {values.get(), size}; }
};

MaskStorage mask(ByteReader& in, std::size_t n) {
    MaskStorage mask;
    if (!in.flag()) return mask;
    mask.values = std::make_unique<bool[]>(n);
    mask.size = n;
    const std::vector<bool> keep = in.bits(n);
    std::copy(keep.begin(), keep.end(), mask.values.get());
    return mask;
}

// Each lane path gives every spectrum of a block the outcome and bits of the loop of single fits.
template <class Rule>
void fit_many_paths(std::span<const double> ys, std::size_t n, const whittaker::WhittakerParams& params,
                    const Rule& rule, whittaker::Mask masks, whittaker::StopRule stop) {
    const std::size_t count = n == 0 ? 0 : ys.size() / n;
    std::vector<double> expected(ys.size(), 0.0), got(ys.size(), 0.0);
    std::vector<whittaker::ItemOutcome> reference(count), outcomes(count);
    whittaker::fit_many(ys, n, params, rule, masks, stop, expected, reference, whittaker::LanePath::ScalarLoop);
    for (const auto path : {whittaker::LanePath::Interleaved, whittaker::LanePath::Avx2, whittaker::LanePath::Automatic}) {
        whittaker::fit_many(ys, n, params, rule, masks, stop, got, outcomes, path);
        for (std::size_t k = 0; k < count; ++k) {
            const auto &a = outcomes[k], &b = reference[k];
            require(a.error.has_value() == b.error.has_value(), "a lane path and the loop disagree on failing");
            if (b.error) {
                require(display(*a.error) == display(*b.error), "a lane path fails differently");
                continue;
            }
            require(a.report.iterations == b.report.iterations && a.report.converged == b.report.converged &&
                        same_bits({&a.report.last_change, 1}, {&b.report.last_change, 1}),
                    "a lane path reports another fit");
            require(same_bits(std::span(got).subspan(k * n, n), std::span(expected).subspan(k * n, n)),
                    "a lane path changed a baseline");
        }
    }
}

}  // namespace

void whittaker_many(ByteReader& in) {
    const std::size_t n = in.length(512), count = in.upto(12);
    std::vector<double> ys;
    for (std::size_t k = 0; k < count; ++k) {
        const std::vector<double> y = in.signal(n);
        ys.insert(ys.end(), y.begin(), y.end());
    }
    const MaskStorage masks = mask(in, n * count);
    const whittaker::WhittakerParams params{in.real(), in.upto(40), in.real()};
    const auto stop = in.flag() ? whittaker::StopRule::NegativeResiduals : whittaker::StopRule::WeightChange;
    switch (in.u8() % 3) {
        case 0: fit_many_paths(ys, n, params, whittaker::AslsWeights{in.real()}, masks.span(), stop); break;
        case 1: fit_many_paths(ys, n, params, whittaker::ArPlsWeights{}, masks.span(), stop); break;
        default: fit_many_paths(ys, n, params, whittaker::AirPlsWeights{}, masks.span(), stop); break;
    }
}

void whittaker_fit(ByteReader& in) {
    switch (in.u8() % 3) {
        case 0: fit_rule(in, whittaker::AslsWeights{in.real()}); break;
        case 1: fit_rule(in, whittaker::ArPlsWeights{}); break;
        default: fit_rule(in, whittaker::AirPlsWeights{}); break;
    }
}

// The rules accept y, baseline and weights of different lengths; a mask covers all of them.
void whittaker_weights(ByteReader& in) {
    const std::size_t n = in.upto(512);
    const std::vector<double> y = in.signal(in.around(n)), baseline = in.signal(in.around(n));
    std::vector<double> weights = in.signal(in.around(n));
    const MaskStorage valid = mask(in, std::max({y.size(), baseline.size(), weights.size()}));
    const std::size_t iteration = in.flag() ? in.u64() : in.upto(64);
    const whittaker::Mask keep = valid.span();
    switch (in.u8() % 3) {
        case 0: whittaker::update_masked(whittaker::AslsWeights{in.real()}, y, baseline, weights, iteration, keep); break;
        case 1: whittaker::update_masked(whittaker::ArPlsWeights{}, y, baseline, weights, iteration, keep); break;
        default: whittaker::update_masked(whittaker::AirPlsWeights{}, y, baseline, weights, iteration, keep); break;
    }
}

}  // namespace quorvel::fuzz
