#include <algorithm>

#include "morphology/extrema.hpp"
#include "morphology/rolling_ball.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::morphology;

namespace {

// The reflection as a literal bouncing walk, independent of any closed form.
std::size_t bounce(std::int64_t j, std::size_t n) {
    const auto size = static_cast<std::int64_t>(n);
    while (j < 0 || j >= size) j = j < 0 ? -j - 1 : 2 * size - 1 - j;
    return static_cast<std::size_t>(j);
}

V brute_extremum(const V& x, std::size_t h, bool minimum) {
    V out(x);
    const auto w = static_cast<std::int64_t>(h);
    for (std::size_t i = 0; i < x.size(); ++i)
        for (std::int64_t k = static_cast<std::int64_t>(i) - w; k <= static_cast<std::int64_t>(i) + w; ++k) {
            const double v = x[bounce(k, x.size())];
            out[i] = minimum ? std::min(out[i], v) : std::max(out[i], v);
        }
    return out;
}

}  // namespace

TEST(Morphology, reflect_index_matches_bouncing_walk) {
    for (std::size_t n = 1; n <= 6; ++n)
        for (std::int64_t j = -40; j <= 40; ++j) EXPECT_EQ(reflect_index(j, n), bounce(j, n)) << j << " " << n;
}

TEST(Morphology, moving_extrema_match_brute_force_on_random_signals) {
    std::mt19937_64 rng(314159);
    for (std::size_t n = 1; n <= 14; ++n) {
        for (std::size_t h = 0; h <= 17; h += 1 + h / 3) {
            V x = uniform(rng, n, -10.0, 10.0), max(n);
            if (n > 3) x[1] = x[n - 2];  // ties
            EXPECT_EQ(moving_min_reflect(x, h), brute_extremum(x, h, true)) << n << " " << h;
            moving_max_reflect(x, h, max);
            EXPECT_EQ(max, brute_extremum(x, h, false)) << n << " " << h;
            const V opened = opening_reflect(x, h);
            EXPECT_EQ(opened, brute_extremum(brute_extremum(x, h, true), h, false));
            EXPECT_EQ(opening_reflect(opened, h), opened) << "an opening is idempotent";
        }
    }
}

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
