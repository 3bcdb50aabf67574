#include "polynomial/polynomial.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::polynomial;

TEST(Polynomial, reproduces_polynomials_up_to_its_order) {
    std::mt19937_64 rng(11);
    for (std::uint64_t order = 0; order <= 5; ++order) {
        for (std::size_t n : {static_cast<std::size_t>(order + 1), std::size_t{8}, std::size_t{101}}) {
            for (std::uint64_t degree = 0; degree <= order; ++degree) {
                const V c = uniform(rng, degree + 1, -2.0, 2.0);
                V y(n, 0.0);
                for (std::size_t i = 0; i < n; ++i) {
                    const double x = n == 1 ? 0.0 : -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(n - 1);
                    for (std::size_t k = 0; k <= degree; ++k) y[i] += c[k] * std::pow(x, k);
                }
                const auto fit = poly(y, order);
                ASSERT_TRUE(fit) << outcome(fit);
                expect_near_all(fit.value().baseline, y, 1e-9);
            }
        }
    }
}

TEST(Polynomial, least_squares_parabola_passes_through_a_peak) {
    const auto fit = poly(V{0, 0, 10, 0, 0}, 2);
    ASSERT_TRUE(fit);
    expect_near_all(fit.value().baseline, V{-6.0 / 7, 24.0 / 7, 34.0 / 7, 24.0 / 7, -6.0 / 7}, 1e-12);
    EXPECT_TRUE(fit.value().report.converged);
}

TEST(Polynomial, validation_order_leaves_output_untouched) {
    struct Case { V y; std::size_t out; std::uint64_t order; std::string text; };
    const Case cases[] = {
        {{}, 0, 9, "input signal must not be empty"},
        {{1, 2, kNaN}, 3, 9, "input contains a non-finite value at index 2"},
        {{1, 2, 3, 4, 5}, 6, 9, "length mismatch for baseline: expected 5, got 6"},
        {{1, 2, 3}, 3, 3, "input length 3 is too short for polynomial; minimum is 4"},
        {{1, 2}, 2, std::numeric_limits<std::uint64_t>::max(),
         "input length 2 is too short for polynomial; minimum is 18446744073709551615"},
    };
    for (const auto& c : cases) {
        V out(c.out, 8.0);
        EXPECT_EQ(outcome(poly_into(c.y, c.order, out)), c.text);
        EXPECT_EQ(out, V(c.out, 8.0));
    }
}
