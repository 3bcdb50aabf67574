#include "pspline_many.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "pspline_fit.hpp"
#include "simd/cpu.hpp"
#include "spline_lane_run.hpp"
#include "whittaker/lanes/brpls_lane_run.hpp"

namespace quorvel::dispatch {
namespace {

using spline_lanes::Kernels;
using spline_lanes::SplineLaneRun;
using whittaker::ItemOutcome;
using whittaker::LaneArrays;
using whittaker::LanePath;

Kernels kernels_on(LanePath path) {
#if defined(QUORVEL_AVX2)
    if (path != LanePath::Interleaved && simd::avx2_available()) {
        return {pspline::avx2_spline_kernels(), whittaker::avx2_lane_kernels(2), false};
    }
#endif
    (void)path;
    return {pspline::interleaved_spline_kernels(), whittaker::interleaved_lane_kernels(), true};
}

// Where the lanes are scalar streams, brpls' and aspls' fits cost in them what they cost alone (0.8x and 1.0x at
// 1000 samples), the others 1.2-3x less.
bool gains_in_scalar_lanes(catalogue::MethodId method) {
    return method != catalogue::MethodId::PsplineBrPls && method != catalogue::MethodId::PsplineAsPls;
}

// The plain spline system of a block's lanes, sized once a spectrum has built the basis.
struct PlainSystem {
    std::optional<linalg::PenaltyRows> penalty{};
    std::vector<double> system{};
    pspline::LaneSpline spline{};

    void size(const pspline::SplineLaneKernels& kernels, LaneArrays& arrays, const pspline::SplineBasis& basis,
              const pspline::PsplineParams& params, std::size_t n) {
        const std::size_t m = basis.coefficients, width = kernels.width;
        const std::size_t band = std::max<std::size_t>(basis.degree, params.diff_order);
        penalty.emplace(m, params.diff_order, params.lambda);
        system.assign((band + 4) * m * width, 0.0);
        double* at = system.data();
        spline = {n,       band,    params.diff_order, &basis,
                  &*penalty, arrays.y(), arrays.weights(), false,
                  0.0,     nullptr, nullptr,           nullptr,
                  arrays.factor().t, at, at + (band + 1) * m * width, at + (band + 2) * m * width,
                  at + (band + 3) * m * width};
    }
};

// The plain spline system in the lanes, for BrPLS' two loops (BrPlsLaneRun): a spectrum enters as brpls_into
// starts it, its checks and then the rule's.
struct SplineSolver {
    static constexpr LinearSolveFailed failure = linalg::banded::not_positive_definite;
    const pspline::SplineLaneKernels& kernels;
    const whittaker::BrPlsWeights& rule;
    std::span<const double> x;
    pspline::PsplineParams params;
    std::size_t n;
    pspline::PsplineWorkspace shared{};
    PlainSystem plain{};

    bool enter(LaneArrays& arrays, std::size_t l, std::span<const double> y, Mask mask, ItemOutcome& outcome) {
        if (auto ready = pspline::prepare(y, x, params, mask, n, shared); !ready) {
            outcome = {{}, ready.error()};
            return false;
        }
        if (auto valid = whittaker::check_rule(rule); !valid) {
            outcome = {{}, valid.error()};
            return false;
        }
        if (!plain.spline.basis) plain.size(kernels, arrays, shared.basis, params, n);
        arrays.put_spectrum(l, y, mask);
        return true;
    }
    void solve(const whittaker::LaneBlock&, bool* failed) { kernels.solve(plain.spline, failed); }
};

// pspline_mpls: each spectrum's anchors as its own fit finds them, then its one solve beside `width` - 1 others'.
// A block's spectra enter and leave the lanes together, sample by sample, which costs far less than lane by lane.
void mpls_in_lanes(const pspline::SplineLaneKernels& kernels, std::span<const double> ys, std::size_t n,
                   Mask masks, const Options& options, std::span<double> baselines,
                   std::span<ItemOutcome> outcomes) {
    const std::size_t width = kernels.width;
    LaneArrays arrays(n, width, false);
    pspline::PsplineWorkspace shared;
    morphology::MplsWorkspace anchored;
    PlainSystem plain;
    const auto failed = std::make_unique<bool[]>(width);
    std::vector<std::size_t> items(width);
    std::vector<double> weights(width * n);
    for (std::size_t next = 0; next < outcomes.size();) {
        std::size_t held = 0;
        for (; held < width && next < outcomes.size(); ++next) {
            const auto y = ys.subspan(next * n, n);
            const Mask mask = masks.empty() ? Mask{} : masks.subspan(next * n, n);
            if (auto weighted = mpls_spline_weights(y, mask, options, n, shared, anchored); !weighted) {
                outcomes[next] = {{}, weighted.error()};
                continue;
            }
            if (!plain.spline.basis) plain.size(kernels, arrays, shared.basis, mpls_spline_params(options.pspline), n);
            std::copy(shared.weights.begin(), shared.weights.end(), weights.begin() + held * n);
            items[held++] = next;
        }
        if (held == 0) return;
        // The lanes left over at the end solve y = 0 with unit weights, as an idle lane does.
        double *y = arrays.y(), *w = arrays.weights();
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t l = 0; l < width; ++l) {
                y[i * width + l] = l < held ? ys[items[l] * n + i] : 0.0;
                w[i * width + l] = l < held ? weights[l * n + i] : 1.0;
            }
        }
        kernels.solve(plain.spline, failed.get());
        const double* t = arrays.factor().t;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t l = 0; l < held; ++l) {
                if (!failed[l]) baselines[items[l] * n + i] = t[i * width + l];
            }
        }
        for (std::size_t l = 0; l < held; ++l) {
            outcomes[items[l]] = failed[l] ? ItemOutcome{{}, linalg::banded::not_positive_definite}
                                           : ItemOutcome{single_pass, std::nullopt};
        }
    }
}

void fit_singly(std::span<const double> ys, std::size_t n, Mask masks, const Options& options,
                std::span<double> baselines, std::span<ItemOutcome> outcomes) {
    Scratch scratch;
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        const Mask mask = masks.empty() ? Mask{} : masks.subspan(k * n, n);
        auto fit = pspline_into(ys.subspan(k * n, n), mask, options, baselines.subspan(k * n, n), scratch, nullptr);
        outcomes[k] = fit ? ItemOutcome{fit.value(), std::nullopt} : ItemOutcome{{}, fit.error()};
    }
}

// A spectrum's method in `slot`, braced: clang makes no aggregate from parentheses.
template <class Method, class... Args>
void make_in(std::optional<Method>& slot, Args&&... args) {
    slot.emplace(Method{std::forward<Args>(args)...});
}

// run(...) for a Whittaker rule whose spline system takes extra terms.
template <class Terms, class Rule, class Run>
void run_rule(const Rule& rule, Run& run) {
    run(std::type_identity<RuleMethod<Rule, Terms>>{}, whittaker::lane_rule(rule),
        [rule](auto& method, std::span<const double> y, Mask mask, WhittakerWorkspace& state) {
            make_in(method, rule, y, mask, state);
        });
}

// run(method type, lane rule, emplace) for a method the lanes serve, otherwise() for the others.
template <class Run, class Otherwise>
void with_lane_method(const Options& options, std::span<double> scratch, Run run, Otherwise otherwise) {
    const PsplineRecord& r = options.pspline;
    if (options.method == catalogue::MethodId::MixtureModel) {
        // The lanes solve the EM's first fit themselves (SplineLaneRun::start_mixture); begin's `scratch` goes unused.
        return run(std::type_identity<pspline::MixtureWeights>{}, std::nullopt,
                   [&, params = pspline_params(r)](auto& method, std::span<const double> y, Mask mask, auto&) {
                       method.emplace(pspline::MixtureWeights{{{r.p, r.symmetric}, y, mask}, params, scratch});
                   });
    }
    if (options.method == catalogue::MethodId::PsplineIasls) return run_rule<IaslsTerms>(iasls_rule(r), run);
    if (options.method == catalogue::MethodId::PsplineDrPls) return run_rule<DrPlsTerms>(drpls_rule(r), run);
    if (options.method == catalogue::MethodId::PsplineAsPls) return run_rule<AsPlsTerms>(aspls_rule(r), run);
    if (options.method == catalogue::MethodId::Irsqr) {
        return run(std::type_identity<pspline::IrsqrWeights>{}, std::nullopt,
                   [&](auto& method, std::span<const double> y, Mask mask, auto&) {
                       method.emplace(pspline::IrsqrWeights{{r.quantile, r.eps}, y, mask});
                   });
    }
    with_spline_rule(
        options,
        [&](const auto& make) {
            using Rule = std::invoke_result_t<decltype(make), std::span<const double>, Mask>;
            const Rule any = make(std::span<const double>(), Mask{});
            run(std::type_identity<RuleMethod<Rule>>{}, spline_lanes::spline_lane_rule(any),
                [&](auto& method, std::span<const double> y, Mask mask, WhittakerWorkspace& state) {
                    make_in(method, make(y, mask), y, mask, state);
                });
        },
        otherwise);
}

}  // namespace

bool spline_lanes_serve(const Options& options, std::size_t count, std::size_t n) {
    // As for the Whittaker lanes: past 2^17 samples the loop of single fits keeps to one spectrum's memory.
    constexpr std::size_t longest = std::size_t{1} << 17;
    bool served = true;
    if (options.method != catalogue::MethodId::PsplineBrPls && options.method != catalogue::MethodId::PsplineMpls) {
        with_lane_method(options, {}, [](auto, auto, auto) {}, [&] { served = false; });
    }
    return served && count >= 2 && n > 0 && n <= longest;
}

void fit_spline_lanes(std::span<const double> ys, std::size_t n, Mask masks, const Options& options,
                      std::span<double> baselines, std::span<ItemOutcome> outcomes, LanePath path) {
    if (outcomes.empty()) return;
    if (path == LanePath::ScalarLoop) return fit_singly(ys, n, masks, options, baselines, outcomes);
    const Kernels kernels = kernels_on(path);
    if (path == LanePath::Automatic && kernels.interleaved && !gains_in_scalar_lanes(options.method)) {
        return fit_singly(ys, n, masks, options, baselines, outcomes);
    }
    if (options.method == catalogue::MethodId::PsplineMpls) {
        return mpls_in_lanes(kernels.spline, ys, n, masks, options, baselines, outcomes);
    }
    if (options.method == catalogue::MethodId::PsplineBrPls) {
        const PsplineRecord& r = options.pspline;
        const whittaker::BrPlsWeights rule{r.max_iter_2, r.tol_2};
        SplineSolver solver{kernels.spline, rule, options.x, pspline_params(r), n};
        whittaker::BrPlsLaneRun(kernels.rules, solver, rule, ys, n, r.tol, r.max_iter, masks, baselines, outcomes)
            .run();
        return;
    }
    std::vector<double> scratch(n);
    with_lane_method(
        options, scratch,
        [&]<class Method>(std::type_identity<Method>, std::optional<whittaker::LaneRule> rule, const auto& emplace) {
            using Emplace = std::remove_cvref_t<decltype(emplace)>;
            SplineLaneRun<Method, Emplace>(kernels, rule, emplace, ys, n, masks, options, baselines, outcomes).run();
        },
        [&] { fit_singly(ys, n, masks, options, baselines, outcomes); });
}

}  // namespace quorvel::dispatch
