#include "core/numeric.hpp"
#include "support.hpp"
#include "whittaker/airpls.hpp"
#include "whittaker/arpls.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/engine.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::whittaker;

namespace {

// Reweights residuals d against a zero baseline, starting from uniform weights, and checks
// the returned change against the weights actually written.
template <class Rule>
V reweight(const Rule& rule, V d, std::size_t iteration = 0, Mask mask = {}) {
    const V zero(d.size(), 0.0), previous(d.size(), 1.0);
    V w = previous;
    const double change = update_masked(rule, d, zero, w, iteration, mask);
    double diff = 0.0;
    for (double x : w) diff += (x - 1.0) * (x - 1.0);
    EXPECT_NEAR(change, std::sqrt(diff / static_cast<double>(w.size())), 1e-15);
    return w;
}

}  // namespace

TEST(WhittakerEngine, validation_runs_in_order) {
    struct Case { V y; std::size_t out; WhittakerParams params; const char* text; };
    const Case cases[] = {
        {{}, 0, {kNaN, 0, kNaN}, "input signal must not be empty"},
        {{1, -kInf, kNaN, 2}, 3, {0, 0, kNaN}, "input contains a non-finite value at index 1"},
        {{1, 2, 3}, 4, {0, 0, kNaN}, "length mismatch for baseline: expected 3, got 4"},
        {{1, 2}, 2, {0, 0, kNaN}, "input length 2 is too short for whittaker; minimum is 3"},
        {{1, 2, 3}, 3, {-0.0, 0, kNaN}, "invalid parameter lambda: must be finite and positive"},
        {{1, 2, 3}, 3, {1, 0, kNaN}, "invalid parameter max_iter: must be greater than zero"},
        {{1, 2, 3}, 3, {1, 5, kNaN}, "invalid parameter tol: must be finite"},
        {{1, 2, 3}, 3, {5e-324, 5, -1.0}, "ok"},
    };
    for (const auto& c : cases) {
        V out(c.out, 0.0);
        WhittakerWorkspace ws;
        EXPECT_EQ(outcome(fit_into(c.y, c.params, AslsWeights{0.01}, out, ws)), c.text);
    }
}

TEST(AslsWeights, sign_of_residual_and_mask_pick_the_weight) {
    const bool mask[] = {true, false, true, true};
    EXPECT_EQ(reweight(AslsWeights{0.1}, {-1, 0, 2, -3}), (V{0.9, 0.9, 0.1, 0.9}));
    EXPECT_EQ(reweight(AslsWeights{0.1}, {-1, 0, 2, -3}, 0, mask), (V{0.9, 0.0, 0.1, 0.9}));
}

TEST(ArPlsWeights, logistic_weights_from_negative_residual_statistics) {
    const V w = reweight(ArPlsWeights{}, {-1, -3, 2});
    expect_near_all(w, V{0.9999546021, 0.9999991685, 0.9820137900}, 1e-10);
    // A masked sample gets no weight and does not move the statistics.
    const bool mask[] = {true, true, true, false}, middle_out[] = {true, false, true};
    EXPECT_EQ(reweight(ArPlsWeights{}, {-1, -3, 2, -100}, 0, mask), (V{w[0], w[1], w[2], 0.0}));
    EXPECT_EQ(reweight(ArPlsWeights{}, {0, -1, 2}, 0, middle_out), (V{1, 0, 1}));
    // One negative residual: s collapses to epsilon and the threshold is exactly 1 + 2 epsilon.
    EXPECT_EQ(reweight(ArPlsWeights{}, {-1, 2, 1.0 + 2 * epsilon, 0.5}), (V{1, 0, 0.5, 1}));
}

TEST(ArPlsWeights, sample_statistics_as_grids_use_them) {
    const ArPlsWeights sample{true};
    // Two negative residuals -1 and -3: deviation sqrt(2) over n - 1, threshold 2 sqrt(2) + 2.
    const double s = std::sqrt(2.0), g = 2 * s + 2;
    const V w = reweight(sample, {-1, -3, 2});
    for (std::size_t i = 0; i < w.size(); ++i) {
        const double d = V{-1, -3, 2}[i];
        EXPECT_NEAR(w[i], 1.0 / (1.0 + std::exp(2 * (d - g) / s)), 1e-15) << i;
    }
    // Fewer than two negative residuals give uniform weights, masked samples still none.
    const bool mask[] = {true, true, false};
    EXPECT_EQ(reweight(sample, {-1, 2, 0.5}), V(3, 1.0));
    EXPECT_EQ(reweight(sample, {-1, 2, -4}, 0, mask), (V{1, 1, 0}));
    // Equal negative residuals: the threshold comes from the deviation 0 before its floor, so it
    // is exactly -mean = 1 and a residual of 1 sits on it.
    EXPECT_EQ(reweight(sample, {-1, -1, 1, 2}), (V{1, 1, 0.5, 0}));
}

TEST(AirPlsWeights, exponential_weights_sharpen_with_iteration) {
    EXPECT_EQ(reweight(AirPlsWeights{}, {-1, -3, 2, -4}, 0), (V{1, 1.4549914146182013, 0, 1}));
    EXPECT_EQ(reweight(AirPlsWeights{}, {-1, -3, 2, -4}, 1), (V{1, 2.117000016612675, 0, 1}));
    EXPECT_EQ(reweight(AirPlsWeights{}, {-1, -9, -1}, 49), (V{1, 1e12, 1}));
    EXPECT_EQ(reweight(AirPlsWeights{}, {-1e-16, 5, -1e-16}), V(3, 1.0));  // a negligible negative sum counts as none
    // Masked ends move the pinned weights inwards.
    const bool mask[] = {false, true, true, true, false};
    EXPECT_EQ(reweight(AirPlsWeights{}, {-1, -2, -3, -4, -5}, 0, mask), (V{0, 1, std::exp((1.0 / 9.0) * 3.0), 1, 0}));
}
