// Many-spectrum fits on every path against the single-spectrum engine, bit for bit.
#include <memory>
#include <set>

#include "lane_outcome.hpp"
#include "support.hpp"
#include "whittaker/lanes/many.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::whittaker;

namespace {

// Spectra of differing peak height and noise, so that fits end at different iterations; spectrum 4
// holds a NaN and spectrum 7 is all zeros.
struct Batch {
    std::size_t n, count;
    V ys;
    std::unique_ptr<bool[]> masks;

    Batch(std::size_t n_, std::size_t count_, std::mt19937_64& rng) : n(n_), count(count_), ys(n * count) {
        std::normal_distribution<double> noise(0.0, 1.0);
        masks = std::make_unique<bool[]>(n * count);
        for (std::size_t k = 0; k < count; ++k) {
            for (std::size_t i = 0; i < n; ++i) {
                const double x = static_cast<double>(i) / static_cast<double>(n), bump = (x - 0.4) / 0.05;
                ys[k * n + i] = k == 7 ? 0.0 : 2.0 * x + double(k % 4) * 4.0 * std::exp(-bump * bump) +
                                                   0.05 * double(1 + k % 3) * noise(rng);
                masks[k * n + i] = noise(rng) > -1.0;
            }
        }
        ys[4 * n + n / 2] = kNaN;
    }
    Mask mask(bool masked) const { return masked ? Mask(masks.get(), n * count) : Mask{}; }
};

struct Seen {
    std::set<std::uint64_t> iterations;
    bool pivot_failure = false;
};

template <class Rule>
void expect_single_fits(const Batch& b, const WhittakerParams& params, const Rule& rule, bool masked, StopRule stop,
                        LanePath path, Seen& seen) {
    V got(b.ys.size(), 0.0);
    std::vector<ItemOutcome> outcomes(b.count);
    fit_many(b.ys, b.n, params, rule, b.mask(masked), stop, got, outcomes, path);
    WhittakerWorkspace ws;
    for (std::size_t k = 0; k < b.count; ++k) {
        const auto y = std::span<const double>(b.ys).subspan(k * b.n, b.n);
        const Mask mask = masked ? b.mask(true).subspan(k * b.n, b.n) : Mask{};
        V expected(b.n);
        const auto fit = fit_controlled(y, params, rule, expected, ws, {mask, stop, nullptr});
        const std::string where = "n=" + std::to_string(b.n) + " spectrum " + std::to_string(k);
        if (!fit) {
            ASSERT_TRUE(outcomes[k].error) << where;
            EXPECT_EQ(display(*outcomes[k].error), display(fit.error())) << where;
            seen.pivot_failure |= std::holds_alternative<LinearSolveFailed>(fit.error());
            continue;
        }
        expect_lane_matches(outcomes[k], fit.value(), V(got.begin() + k * b.n, got.begin() + (k + 1) * b.n), expected,
                            where);
        seen.iterations.insert(fit.value().iterations);
    }
}

class ManySpectra : public testing::TestWithParam<LanePath> {};

}  // namespace

TEST_P(ManySpectra, every_spectrum_gets_the_bits_of_its_own_fit) {
    if (!lane_path_available(GetParam())) GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937_64 rng(5);
    Seen seen;
    for (std::size_t n : {3, 4, 9, 150}) {
        const Batch b(n, 13, rng);
        for (bool masked : {false, true}) {
            for (StopRule stop : {StopRule::WeightChange, StopRule::NegativeResiduals}) {
                const WhittakerParams params{1e3, 40, 1e-3};
                // With tol = 0 an AsLS fit ends only on a change of exactly zero.
                expect_single_fits(b, {1e3, 40, 0.0}, AslsWeights{0.01}, masked, stop, GetParam(), seen);
                expect_single_fits(b, params, ArPlsWeights{}, masked, stop, GetParam(), seen);
                // The lanes know only population statistics: the sample form must not reach them.
                expect_single_fits(b, params, ArPlsWeights{true}, masked, stop, GetParam(), seen);
                expect_single_fits(b, params, AirPlsWeights{}, masked, stop, GetParam(), seen);
                // p = 1 drops every sample on or below the baseline: the zero spectrum's second
                // system has no weight at all, and its pivot fails.
                expect_single_fits(b, {1.0, 40, 1e-3}, AslsWeights{1.0}, masked, stop, GetParam(), seen);
            }
        }
    }
    EXPECT_TRUE(seen.pivot_failure);
    EXPECT_GT(seen.iterations.size(), 10u);
}

// The rules after the first three, and every difference order, run the band solve in the lanes, on the index
// and on uneven positions.
TEST_P(ManySpectra, every_rule_and_difference_order_gets_the_bits_of_its_own_fit) {
    if (!lane_path_available(GetParam())) GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937_64 rng(9);
    Seen seen;
    for (std::size_t n : {4, 9, 150}) {
        const Batch b(n, 13, rng);
        V uneven(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double at = static_cast<double>(i);
            uneven[i] = at + 0.4 * std::sin(1.7 * at);
        }
        for (bool masked : {false, true}) {
            const auto each = [&](const auto& rule, unsigned lowest) {
                for (unsigned order = lowest; order <= 3; ++order) {
                    for (double tol : {1e-3, 0.0}) {
                        for (std::span<const double> x : {std::span<const double>(), std::span<const double>(uneven)}) {
                            expect_single_fits(b, {1e3, 30, tol, order, x}, rule, masked, StopRule::WeightChange,
                                               GetParam(), seen);
                        }
                    }
                }
            };
            each(AslsWeights{0.05}, 1);
            each(ArPlsWeights{}, 1);
            each(AirPlsWeights{}, 1);
            each(IaslsWeights{0.05, 1e-2}, 2);
            each(DrPlsWeights{0.5}, 2);
            each(DrPlsWeights{1.0}, 2);
            expect_single_fits(b, {5e9, 30, 1e-3, 3}, DrPlsWeights{1.0}, masked, StopRule::WeightChange, GetParam(),
                               seen);
            each(IarPlsWeights{}, 1);
            each(AsPlsWeights{0.5}, 1);
            each(PsalsaWeights{0.5, std::numeric_limits<double>::quiet_NaN()}, 1);
            each(PsalsaWeights{0.2, 0.3}, 2);
            each(DerPsalsaWeights{0.05, std::numeric_limits<double>::quiet_NaN(), 2, 3}, 1);
            each(LsrPlsWeights{}, 1);
            each(BrPlsWeights{50, 1e-3}, 1);
            each(BrPlsWeights{2, 0.0}, 2);  // every outer iteration, to the cap
        }
    }
    EXPECT_GT(seen.iterations.size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(Paths, ManySpectra,
                         testing::Values(LanePath::ScalarLoop, LanePath::Interleaved, LanePath::Avx2,
                                         LanePath::Automatic));
