#include "morphology/rolling_ball.hpp"
#include "polynomial/polynomial.hpp"
#include "simple/dispatch.hpp"
#include "support.hpp"
#include "whittaker/asls.hpp"
#include "whittaker/engine.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::simple;

namespace {

const Method all_methods[] = {{Method::Asls}, {Method::ArPls}, {Method::AirPls}, {Method::RollingBall},
                              {Method::Polynomial}};

}  // namespace

TEST(Method, parsing_folds_ascii_case_only) {
    const std::pair<const char*, int> texts[] = {
        {"ASLS", Method::Asls}, {"ArPLS", Method::ArPls}, {"airpls", Method::AirPls},
        {"Rolling_Ball", Method::RollingBall}, {"ROLLING-BALL", Method::RollingBall},
        {"Poly", Method::Polynomial}, {"POLYNOMIAL", Method::Polynomial},
        {"asls ", -1}, {"", -1}, {"whittaker", -1}, {"\xC3\x81sls", -1}, {"rolling ball", -1},
    };
    for (const auto& [text, kind] : texts) {
        const auto parsed = Method::from_str(text);
        if (kind < 0) {
            EXPECT_EQ(outcome(parsed),
                      "invalid parameter method: expected asls, arpls, airpls, rolling_ball, or polynomial");
        } else {
            ASSERT_TRUE(parsed) << text;
            EXPECT_EQ(parsed.value().kind, kind) << text;
        }
    }
    EXPECT_EQ(outcome(Method2D::from_str("airpls")),
              "invalid parameter method: expected asls, arpls, rolling_ball, or polynomial");
    EXPECT_EQ(Method2D::from_str("POLY").value().kind, Method2D::Polynomial);
    EXPECT_EQ(Method2D::from_str("Rolling-Ball").value().kind, Method2D::RollingBall);
}

TEST(Dispatch, correct_and_baseline_add_up_to_the_signal) {
    V y(80);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = 0.01 * static_cast<double>(i * i % 37) + (i == 40 ? 5 : 0);
    for (Method m : all_methods) {
        const auto base = baseline_with(y, m);
        const auto corrected = correct_with(y, m);
        ASSERT_TRUE(base && corrected);
        ASSERT_EQ(corrected.value().size(), y.size());
        for (std::size_t i = 0; i < y.size(); ++i) EXPECT_EQ(corrected.value()[i], y[i] - base.value()[i]);
    }
    // The defaults reach the algorithms.
    const whittaker::WhittakerParams params{1e6, 50, 1e-3};
    EXPECT_EQ(baseline_with(y, {Method::Asls}).value(),
              whittaker::fit_alloc(y, params, whittaker::AslsWeights{0.01}).value().baseline);
    EXPECT_EQ(baseline_with(y, {Method::RollingBall}).value(), morphology::rolling_ball(y, 31).value().baseline);
    EXPECT_EQ(baseline_with(y, {Method::Polynomial}).value(), polynomial::poly(y, 2).value().baseline);
}

TEST(Dispatch, input_errors_come_from_the_algorithm) {
    const char* two_samples[] = {"input length 2 is too short for whittaker; minimum is 3",
                                 "input length 2 is too short for whittaker; minimum is 3",
                                 "input length 2 is too short for whittaker; minimum is 3", "ok",
                                 "input length 2 is too short for polynomial; minimum is 3"};
    for (std::size_t k = 0; k < 5; ++k) {
        const Method m = all_methods[k];
        EXPECT_EQ(outcome(correct_with(V{}, m)), "input signal must not be empty");
        EXPECT_EQ(outcome(baseline_with(V{kInf, 1, 2, 3}, m)), "input contains a non-finite value at index 0");
        EXPECT_EQ(outcome(fit_with(V{1, 2}, m)), two_samples[k]);
    }
}

TEST(Dispatch2D, grid_validation_runs_before_dispatch) {
    constexpr std::uint64_t big = std::uint64_t{1} << 32;
    struct Case { V data; std::uint64_t rows, cols; std::string text; };
    const Case cases[] = {
        {{}, 0, 0, "invalid parameter rows: must be greater than zero"},
        {{1, 2, 3}, 3, 0, "invalid parameter cols: must be greater than zero"},
        {{1}, big, big, "invalid parameter shape: rows * cols overflows usize"},
        {{1, 2, 3, 4, 5}, 2, 3, "length mismatch for data: expected 6, got 5"},
        {{1, 2, 3, kNaN, 5, 6}, 2, 3, "input contains a non-finite value at index 3"},
        {{1, 2, kInf, kNaN, 5, 6}, 2, 3, "input contains a non-finite value at index 2"},
    };
    for (int k = Method2D::Asls; k <= Method2D::Polynomial; ++k) {
        const Method2D m{static_cast<Method2D::Kind>(k)};
        for (const auto& c : cases) {
            EXPECT_EQ(outcome(fit_2d_with(c.data, c.rows, c.cols, m)), c.text);
            EXPECT_EQ(outcome(correct_2d_with(c.data, c.rows, c.cols, m)), c.text);
        }
        // A valid grid reaches the algorithms, which are not built yet.
        const auto valid = baseline_2d_with(V(6, 1.0), 2, 3, m);
        ASSERT_FALSE(valid);
        EXPECT_TRUE(std::holds_alternative<Unsupported>(valid.error()));
    }
}
