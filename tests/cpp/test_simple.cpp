#include "dispatch/correction.hpp"
#include "simple/dispatch.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::simple;

TEST(Dispatch2D, grid_validation_runs_before_dispatch) {
    constexpr std::uint64_t big = std::uint64_t{1} << 32;
    struct Case { V data; std::uint64_t rows, cols; std::string text; };
    const Case cases[] = {
        {{}, 0, 0, "invalid parameter rows: must be greater than zero"},
        {{1, 2, 3}, 3, 0, "invalid parameter cols: must be greater than zero"},
        {{1}, big, big, "invalid parameter shape: rows * cols overflows usize"},
        {{1, 2, kNaN, 4, 5}, 2, 3, "length mismatch for data: expected 6, got 5"},
        {{1, 2, kInf, kNaN, 5, 6}, 2, 3, "input contains a non-finite value at index 2"},
    };
    for (const auto& method : catalogue::table) {
        if (!Method2D::scope.admits(method)) continue;
        const Method2D m{method.id};
        for (const auto& c : cases) {
            EXPECT_EQ(outcome(fit_2d_with(c.data, c.rows, c.cols, m)), c.text);
            EXPECT_EQ(outcome(correct_2d_with(c.data, c.rows, c.cols, m)), c.text);
        }
        EXPECT_EQ(outcome(correct_2d_with(V(12, 1.0), 3, 4, m)), "ok");
    }
}

// Every method sums or eliminates over many samples, so finite data near the top of the double
// range overflows somewhere; that must come back as an error, never as a result.
TEST(Dispatch, overflow_from_finite_input_is_an_error) {
    V y(64);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = 1.7e308 - 1e306 * static_cast<double>(i % 5);
    for (const auto& method : catalogue::table) {
        if (!Method::scope.admits(method)) continue;
        const Method m{method.id};
        EXPECT_EQ(outcome(baseline_with(y, m)), "invalid parameter y: values too large, the baseline overflows");
        EXPECT_EQ(outcome(correct_with(y, m)), "invalid parameter y: values too large, the baseline overflows");
    }
    for (auto m : {Method2D{catalogue::MethodId::RollingBall}, Method2D{catalogue::MethodId::Polynomial}}) {
        EXPECT_EQ(outcome(correct_2d_with(V(64, 1.7e308), 8, 8, m)),
                  "invalid parameter data: values too large, the baseline overflows");
    }
    EXPECT_EQ(outcome(dispatch::subtract_baseline(V{1.0, 1.7e308}, Fit{V{0.0, -1.7e308}, single_pass}, "y")),
              "invalid parameter y: values too large, the corrected signal overflows");
}
