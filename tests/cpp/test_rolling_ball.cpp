#include "morphology/rolling_ball.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::morphology;

TEST(RollingBall, known_baselines) {
    // Each end is extended along the line through its nearest h samples.
    expect_near_all(pad_extrapolated(V{1, 2, 4}, 2), V{-1, 0, 1, 2, 4, 6, 8}, 1e-12);
    struct Case { V y; std::size_t window; V baseline; };
    const Case cases[] = {
        {{10, 10, 0, 10, 10}, 3, {10, 20.0 / 3, 20.0 / 3, 20.0 / 3, 10}},  // the dip survives
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 5, {0, 1, 2, 3, 4, 5, 5.8, 6.4, 6.8, 7}},
        {{3, -1, 4, 1, 5}, 1, {3, -1, 4, 1, 5}},
    };
    for (const auto& c : cases) {
        const auto fit = rolling_ball(c.y, c.window);
        ASSERT_TRUE(fit);
        expect_near_all(fit.value().baseline, c.baseline, 1e-12);
        EXPECT_EQ(fit.value().report.iterations, 1u);
        EXPECT_TRUE(fit.value().report.converged);
    }
    std::mt19937_64 rng(5);
    const V y = uniform(rng, 64, 0.0, 1.0);
    for (std::size_t even : {2u, 30u, 100u})
        EXPECT_EQ(rolling_ball(y, even).value().baseline, rolling_ball(y, even + 1).value().baseline);
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
