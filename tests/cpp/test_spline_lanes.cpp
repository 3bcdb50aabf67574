// P-spline fits of many spectra through the lanes against each spectrum's own fit, bit for bit.
#include <set>

#include "dispatch/fit.hpp"
#include "dispatch/pspline_fit.hpp"
#include "dispatch/pspline_many.hpp"
#include "lane_outcome.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using catalogue::MethodId;
using whittaker::ItemOutcome;
using whittaker::LanePath;

namespace {

struct Seen {
    std::set<std::uint64_t> iterations;
    bool non_finite = false, pivot_failure = false;
};

// Spectra of differing peak height and noise, so that fits end at different iterations; spectrum 4 holds a NaN,
// spectrum 7 is all zeros and every fourth sample of the masks is left out.
void expect_single_fits(dispatch::Options options, std::size_t n, bool masked, LanePath path, Seen& seen) {
    constexpr std::size_t count = 11;
    std::mt19937_64 rng(n);
    std::normal_distribution<double> noise(0.0, 1.0);
    V ys(n * count);
    auto masks = std::make_unique<bool[]>(n * count);
    for (std::size_t k = 0; k < count; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(i) / static_cast<double>(n), bump = (x - 0.4) / 0.05;
            ys[k * n + i] = k == 7 ? 0.0
                                   : 2.0 * x + double(k % 4) * 4.0 * std::exp(-bump * bump) +
                                         0.05 * double(1 + k % 3) * noise(rng);
            masks[k * n + i] = (i + k) % 4 != 0;
        }
    }
    ys[4 * n + n / 2] = kNaN;
    const Mask all = masked ? Mask(masks.get(), n * count) : Mask{};
    V got(ys.size());
    std::vector<ItemOutcome> outcomes(count);
    dispatch::fit_spline_lanes(ys, n, all, options, got, outcomes, path);
    dispatch::Scratch scratch;
    for (std::size_t k = 0; k < count; ++k) {
        const auto y = std::span<const double>(ys).subspan(k * n, n);
        const Mask mask = masked ? all.subspan(k * n, n) : Mask{};
        V expected(n);
        const auto fit = dispatch::pspline_into(y, mask, options, expected, scratch, nullptr);
        const std::string where = std::string(catalogue::row(options.method).name) + " n=" + std::to_string(n) +
                                  " spectrum " + std::to_string(k);
        if (!fit) {
            ASSERT_TRUE(outcomes[k].error) << where;
            EXPECT_EQ(display(*outcomes[k].error), display(fit.error())) << where;
            seen.non_finite |= std::holds_alternative<NonFiniteInput>(fit.error());
            seen.pivot_failure |= std::holds_alternative<LinearSolveFailed>(fit.error());
            continue;
        }
        expect_lane_matches(outcomes[k], fit.value(), V(got.begin() + k * n, got.begin() + (k + 1) * n), expected,
                            where);
        seen.iterations.insert(fit.value().iterations);
    }
}

class SplineLanes : public testing::TestWithParam<LanePath> {};

}  // namespace

TEST_P(SplineLanes, every_spectrum_gets_the_bits_of_its_own_fit) {
    if (!whittaker::lane_path_available(GetParam())) GTEST_SKIP() << "this CPU has no AVX2";
    Seen seen;
    for (MethodId method : {MethodId::PsplineAsls, MethodId::PsplineArPls, MethodId::PsplineAirPls,
                            MethodId::PsplineIarPls, MethodId::PsplinePsalsa, MethodId::PsplineDerPsalsa,
                            MethodId::PsplineLsrPls, MethodId::PsplineIasls, MethodId::PsplineDrPls,
                            MethodId::PsplineAsPls, MethodId::PsplineBrPls, MethodId::MixtureModel, MethodId::Irsqr,
                            MethodId::PsplineMpls}) {
        auto options = dispatch::defaults(method, 1);
        options.pspline.lam[0] = 10.0;
        options.pspline.num_knots[0] = 8;
        for (std::uint64_t degree : {0, 1, 3, 5}) {
            options.pspline.spline_degree[0] = degree;
            options.pspline.diff_order[0] = 1 + degree % 3;
            for (bool masked : {false, true}) expect_single_fits(options, 40, masked, GetParam(), seen);
        }
        // Falling positions, unevenly spaced: the basis middles are found from the far end.
        V x(40);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = 50.0 - double(i) - 0.3 * std::sin(double(i));
        options.x = x;
        expect_single_fits(options, 40, true, GetParam(), seen);
        options.x = {};
        options.pspline.eps = 1e-4;  // irsqr's own floor under |r|, in place of one from each baseline
        options.pspline.symmetric = true;  // the mixture's peaks below the baseline too
        // drPLS' penalty vanishes where a weight is 1: its rows exchange in the factor.
        options.pspline.eta = 1.0;
        options.pspline.lam[0] = 1e7;
        expect_single_fits(options, 40, true, GetParam(), seen);
        // p = 1 leaves no weight on or below the baseline: the zero spectrum's system has none, and its pivot fails.
        options.pspline.p = 1.0;
        expect_single_fits(options, 150, true, GetParam(), seen);
    }
    EXPECT_GT(seen.iterations.size(), 10u);
    EXPECT_TRUE(seen.non_finite && seen.pivot_failure);
}

INSTANTIATE_TEST_SUITE_P(Paths, SplineLanes,
                         testing::Values(LanePath::ScalarLoop, LanePath::Interleaved, LanePath::Avx2,
                                         LanePath::Automatic));
