#include "morphology/rolling_ball.hpp"
#include "support.hpp"
#include "dispatch/fit.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::morphology;

TEST(RollingBall, an_even_window_acts_as_the_next_odd_one) {
    std::mt19937_64 rng(5);
    const V y = uniform(rng, 64, 0.0, 1.0);
    for (std::size_t even : {2u, 30u, 100u}) {
        const auto fit = rolling_ball(y, even);
        EXPECT_TRUE(fit.value().report.iterations == 1 && fit.value().report.converged);
        EXPECT_EQ(fit.value().baseline, rolling_ball(y, even + 1).value().baseline);
    }
}

TEST(RollingBall, validation_order_leaves_output_untouched) {
    struct Case { V y; std::size_t out, window; const char* text; };
    const Case cases[] = {
        {{}, 0, 0, "input signal must not be empty"},
        {{1, kNaN}, 2, 0, "input contains a non-finite value at index 1"},
        {{1, 2}, 3, 0, "length mismatch for baseline: expected 2, got 3"},
        {{1, 2}, 2, 0, "invalid parameter window_size: must be greater than zero"},
    };
    for (const auto& c : cases) {
        V out(c.out, -3.0);
        EXPECT_EQ(outcome(rolling_ball_into(c.y, c.window, out)), c.text);
        EXPECT_EQ(out, V(c.out, -3.0));
    }
}

TEST(RollingBall, a_mask_bridges_its_gaps_and_keeps_a_single_sample) {
    dispatch::Options options{catalogue::MethodId::RollingBall};
    options.window.half_window = {1, 1};
    dispatch::Scratch scratch;
    const bool keep[5] = {true, false, false, true, true}, one[1] = {true};
    V bridged(5), single(1);
    ASSERT_TRUE(dispatch::fit_1d_into(V{0, kNaN, kInf, 3, 4}, Mask(keep, 5), options, bridged, scratch, nullptr));
    EXPECT_EQ(bridged, rolling_ball(V{0, 1, 2, 3, 4}, 3).value().baseline);
    ASSERT_TRUE(dispatch::fit_1d_into(V{2}, Mask(one, 1), options, single, scratch, nullptr));
    EXPECT_EQ(single, V{2});
}
