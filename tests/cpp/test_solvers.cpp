// The band solvers, difference penalties, transforms and special functions of the Whittaker schemes.
#include <algorithm>
#include <numbers>

#include "linalg/banded_lu.hpp"
#include "linalg/difference_penalty.hpp"
#include "linalg/fft.hpp"
#include "simd/erfcx.hpp"
#include "simd/exp.hpp"
#include "support.hpp"
#include "whittaker/brpls.hpp"
#include "whittaker/drpls.hpp"
#include "whittaker/lanes/many.hpp"
#include "whittaker/system.hpp"

using namespace quorvel;
using namespace quorvel::support;
using quorvel::linalg::banded::GeneralBandedWorkspace;

// Random band matrices whose diagonal is small against the rest, so that rows must be exchanged.
TEST(BandedLu, solves_band_systems_that_need_pivoting) {
    std::mt19937_64 rng(11);
    for (auto [n, lower, upper] : {std::tuple<std::size_t, std::size_t, std::size_t>{1, 0, 0}, {5, 1, 1}, {9, 2, 3},
                                   {30, 3, 3}, {12, 4, 1}, {6, 5, 5}}) {
        GeneralBandedWorkspace ws;
        ws.reset(n, lower, upper);
        V a(n * n, 0.0), b(n, 0.0);
        const V values = uniform(rng, n * n, -1, 1), expected = uniform(rng, n, -3, 3);
        for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t c = r > lower ? r - lower : 0; c <= std::min(n - 1, r + upper); ++c) {
                a[r * n + c] = r == c ? 1e-3 * values[r * n + c] : values[r * n + c];
                ws.at(r, c) = a[r * n + c];
                b[r] += a[r * n + c] * expected[c];
            }
        }
        ASSERT_TRUE(ws.factor()) << n;
        ws.substitute(b);
        expect_near_all(b, expected, 1e-9);
    }
}

TEST(BandedLu, a_singular_system_is_reported) {
    GeneralBandedWorkspace ws;
    ws.reset(3, 1, 1);
    ws.at(0, 0) = ws.at(0, 1) = ws.at(1, 0) = ws.at(1, 1) = 1.0;  // two equal rows
    ws.at(2, 2) = 1.0;
    EXPECT_EQ(outcome(ws.factor()), "linear solve failed: matrix was singular");
    ws.reset(2, 1, 1);
    ws.at(0, 0) = kNaN;
    EXPECT_FALSE(ws.factor());
}

// Every entry of D'D against the product of the difference matrices themselves, at lengths around the order.
TEST(DifferencePenalty, matches_the_product_of_difference_matrices) {
    for (unsigned order = 0; order <= linalg::max_difference_order; ++order) {
        for (std::size_t n : {1, 2, 3, 4, 5, 8}) {
            // D of order k + 1 takes the differences of consecutive rows of D of order k, from the identity.
            std::size_t rows = n;
            V d(n * n, 0.0);
            for (std::size_t i = 0; i < n; ++i) d[i * n + i] = 1.0;
            for (unsigned k = 0; k < order && rows > 0; ++k, --rows) {
                for (std::size_t r = 0; r + 1 < rows; ++r) {
                    for (std::size_t c = 0; c < n; ++c) d[r * n + c] = d[(r + 1) * n + c] - d[r * n + c];
                }
            }
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t k = 0; i + k < n; ++k) {
                    double expected = 0.0;
                    for (std::size_t r = 0; r < rows; ++r) expected += d[r * n + i] * d[r * n + i + k];
                    EXPECT_EQ(linalg::difference_penalty(n, order, i, k), k > order ? 0.0 : expected)
                        << "order " << order << " n " << n << " at " << i << "," << i + k;
                }
            }
        }
    }
}

TEST(ScaledErfc, matches_known_values_without_overflow) {
    // exp(x^2) erfc(x) at a few points, from the series and asymptotics of the function.
    EXPECT_NEAR(simd::erfcx(0.0), 1.0, 3e-16);
    EXPECT_NEAR(simd::erfcx(1.0), 0.42758357615580700, 2e-16);
    EXPECT_NEAR(simd::erfcx(4.0), 0.1369994576250614, 1e-16);
    EXPECT_NEAR(simd::erfcx(10.0), 0.05614099274382259, 1e-16);
    EXPECT_NEAR(simd::erfcx(1e8) * 1e8 * std::sqrt(std::numbers::pi), 1.0, 1e-15);
    EXPECT_EQ(simd::erfcx(kInf), 0.0);
    EXPECT_NEAR(simd::erfcx(-1.0), 5.00898008076228, 1e-13);
    EXPECT_EQ(simd::erfcx(-30.0), kInf);
    EXPECT_TRUE(std::isnan(simd::erfcx(kNaN)));
    // Against the C library's exp and erfc where both are accurate, in steps finer than the fit's points.
    for (double x = 0.0; x < 5.0; x += 0.001) {
        EXPECT_NEAR(simd::erfcx(x), std::exp(x * x) * std::erfc(x), 4e-15 * simd::erfcx(x)) << x;
        EXPECT_NEAR(simd::erfcx(-x), std::exp(x * x) * std::erfc(-x), 4e-15 * simd::erfcx(-x)) << x;
    }
}

// Within 1 ulp of the C library's exp over the whole non-positive range, subnormal results included, and
// never rising as x falls, across the points where the reduction moves to the next power of two too.
TEST(ExpNonpositive, stays_within_one_ulp_of_exp_and_monotone) {
    std::mt19937_64 rng(3);
    const V xs = uniform(rng, 200000, -745.0, 0.0), small = uniform(rng, 20000, -1.0, 0.0);
    double worst = 0.0;
    for (const V* values : {&xs, &small}) {
        for (const double x : *values) {
            const double got = simd::exp_nonpositive(x), expected = std::exp(x);
            const double ulp = std::nextafter(expected, kInf) - expected;
            worst = std::max(worst, std::fabs(got - expected) / ulp);
        }
    }
    EXPECT_LE(worst, 1.0);
    for (double x = 0.0; x > -746.0; x -= 0.5 * std::numbers::ln2) {
        double at = x + 1e-13, previous = simd::exp_nonpositive(at);
        for (int step = 0; step < 400; ++step) {
            at = std::nextafter(at, -kInf);
            const double value = simd::exp_nonpositive(at);
            ASSERT_LE(value, previous) << at;
            previous = value;
        }
    }
    EXPECT_EQ(simd::exp_nonpositive(0.0), 1.0);
    EXPECT_EQ(simd::exp_nonpositive(-746.0), 0.0);
    EXPECT_EQ(simd::exp_nonpositive(-std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_TRUE(std::isnan(simd::exp_nonpositive(kNaN)));
}

// W + lambda D'D x = W y against its own product, at lengths on both sides of where the solve starts
// working from both ends; a NaN or a negative weight anywhere, top, middle or bottom, must fail it.
TEST(BandLdl, solves_weighted_penalties_and_reports_bad_pivots) {
    std::mt19937_64 rng(5);
    using One = simd::ScalarPack<1>;
    for (unsigned order = 1; order <= 3; ++order) {
        for (std::size_t n : {1, 2, 3, 5, 7, 8, 11, 12, 13, 14, 40, 41}) {
            const V w = uniform(rng, n, 0.05, 1.0), expected = uniform(rng, n, -2, 2);
            const linalg::PenaltyRows penalty(n, order, 3.0);
            V y(n);
            for (std::size_t i = 0; i < n; ++i) {
                double row = w[i] * expected[i];
                for (std::size_t j = 0; j < n; ++j) {
                    row += 3.0 * linalg::difference_penalty(n, order, std::min(i, j), i > j ? i - j : j - i) *
                           expected[j];
                }
                y[i] = row / w[i];
            }
            V x(n), storage;
            ASSERT_TRUE(whittaker::solve_band(order, n, whittaker::WeightedSystem<One>{y.data(), w.data(), penalty},
                                              x, storage));
            expect_near_all(x, expected, 1e-9);
            for (std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
                for (double value : {kNaN, -1e3}) {  // a negative weight makes the matrix indefinite
                    V bad = w;
                    bad[at] = value;
                    EXPECT_FALSE(whittaker::solve_band(
                        order, n, whittaker::WeightedSystem<One>{y.data(), bad.data(), penalty}, x, storage))
                        << order << " " << n << " " << at << " " << value;
                }
            }
        }
    }
}

// drPLS' unsymmetric system against its own rows; a NaN weight anywhere must fail it.
TEST(BandLdu, solves_drpls_systems_and_reports_bad_pivots) {
    std::mt19937_64 rng(6);
    using One = simd::ScalarPack<1>;
    for (unsigned order = 2; order <= 3; ++order) {
        for (std::size_t n : {5, 11, 12, 13, 40, 41}) {
            const V y = uniform(rng, n, -2, 2), w = uniform(rng, n, 0.05, 1.0);
            const linalg::PenaltyRows first(n, 1, 1.0), penalty(n, order, 50.0);
            const whittaker::DrPlsSystem<One> system{y.data(), w.data(), 0.5, first, penalty};
            V z(n), storage;
            ASSERT_TRUE(whittaker::solve_band_ldu(order, n, system, z, storage)) << order << " " << n;
            for (std::size_t i = 0; i < n; ++i) {
                double row = system.lower(i, 0).v[0] * z[i];
                for (std::size_t k = 1; k <= order; ++k) {
                    if (i >= k) row += system.lower(i, k).v[0] * z[i - k];
                    if (i + k < n) row += system.upper(i + k, k).v[0] * z[i + k];
                }
                EXPECT_NEAR(row, system.rhs(i).v[0], 1e-9) << order << " " << n << " " << i;
            }
            for (std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
                V bad = w;
                bad[at] = kNaN;
                const whittaker::DrPlsSystem<One> broken{y.data(), bad.data(), 0.5, first, penalty};
                EXPECT_FALSE(whittaker::solve_band_ldu(order, n, broken, z, storage)) << order << " " << n << " " << at;
            }
        }
    }
}

// With eta = 1 a sample of weight 1 loses its penalty row, and at a large lambda the LDU's pivots can
// turn negative; the solve then exchanges rows and still solves the system.
TEST(DrPlsSolve, exchanges_rows_where_the_pivots_fail) {
    const V y{3.0, -1.0, 2.0, 0.5, 4.0, 1.0};
    WhittakerWorkspace ws(y.size());
    ws.iter.weights = {1e-6, 1e-6, 1.0, 1e-6, 0.768198804, 0.0};
    const whittaker::WhittakerParams params{5834063499.591603, 10, 1e-3, 3};
    const whittaker::DrPlsWeights rule{1.0};
    const linalg::PenaltyRows first(y.size(), 1, 1.0), penalty(y.size(), 3, params.lambda);
    const whittaker::DrPlsSystem<simd::ScalarPack<1>> system{y.data(), ws.iter.weights.data(), 1.0, first, penalty};
    V scratch(y.size());
    ASSERT_FALSE(whittaker::solve_band_ldu(3, y.size(), system, scratch, ws.band));
    V z(y.size()), exchanged(y.size());
    ASSERT_TRUE(whittaker::solve(rule, y, z, ws, params));
    ASSERT_TRUE(whittaker::solve_exchanging(rule, y, exchanged, ws, params));
    EXPECT_TRUE(same_bits(z, exchanged));
    for (std::size_t i = 0; i < y.size(); ++i) {  // row i of the system, against its right side
        double row = system.lower(i, 0).v[0] * z[i];
        for (std::size_t k = 1; k <= 3; ++k) {
            if (i >= k) row += system.lower(i, k).v[0] * z[i - k];
            if (i + k < y.size()) row += system.upper(i + k, k).v[0] * z[i + k];
        }
        EXPECT_NEAR(row, system.rhs(i).v[0], 1e-12 * params.lambda * 4.0) << i;  // |z| stays below 4
    }
}

// The 'valid' correlation through transforms against the direct sums, for kernels and signals of several lengths.
TEST(FftConvolver, matches_direct_sums) {
    std::mt19937_64 rng(4);
    using Sizes = std::pair<std::size_t, std::size_t>;
    for (auto [signal_size, kernel_size] :
         {Sizes{1, 1}, Sizes{10, 3}, Sizes{100, 49}, Sizes{1000, 201}, Sizes{20000, 31}, Sizes{9000, 1500}}) {
        const V signal = uniform(rng, signal_size, -1, 1), kernel = uniform(rng, kernel_size, 0, 1);
        linalg::FftConvolver fft(kernel, signal_size);
        V got(signal_size - kernel_size + 1);
        fft.valid(signal, got);
        for (std::size_t j = 0; j < got.size(); ++j) {
            double expected = 0.0;
            for (std::size_t m = 0; m < kernel_size; ++m) expected += kernel[m] * signal[j + m];
            EXPECT_NEAR(got[j], expected, 1e-12) << signal_size << " " << j;
        }
    }
}

// With a power p the kernel is its own p-fold convolution, of length p (size - 1) + 1.
TEST(FftConvolver, a_power_of_the_kernel_is_its_repeated_convolution) {
    std::mt19937_64 rng(8);
    const V signal = uniform(rng, 300, -1, 1), kernel = uniform(rng, 7, 0, 1);
    V power = kernel;
    for (int p = 1; p < 3; ++p) {
        V next(power.size() + kernel.size() - 1, 0.0);
        for (std::size_t a = 0; a < power.size(); ++a) {
            for (std::size_t b = 0; b < kernel.size(); ++b) next[a + b] += power[a] * kernel[b];
        }
        power = next;
    }
    linalg::FftConvolver fft(kernel, signal.size(), 3);
    V got(signal.size() - power.size() + 1);
    fft.valid(signal, got);
    for (std::size_t j = 0; j < got.size(); ++j) {
        double expected = 0.0;
        for (std::size_t m = 0; m < power.size(); ++m) expected += power[m] * signal[j + m];
        EXPECT_NEAR(got[j], expected, 1e-12) << j;
    }
}

// The core refuses the schemes' parameters out of range itself, alone and in blocks alike.
TEST(SchemeParameters, out_of_range_values_are_refused_by_name) {
    const V y{1.0, 3.0, 2.0, 5.0, 4.0, 6.0};
    const whittaker::WhittakerParams params{1e2, 10, 1e-3, 2};
    const auto refused = [&](const auto& rule, const std::string& text) {
        WhittakerWorkspace ws;
        V z(y.size()), many(y.size() * 2);
        EXPECT_EQ(outcome(whittaker::fit_controlled(y, params, rule, z, ws, {})), text);
        V two(y);
        two.insert(two.end(), y.begin(), y.end());
        std::vector<whittaker::ItemOutcome> outcomes(2);
        whittaker::fit_many(two, y.size(), params, rule, {}, whittaker::StopRule::WeightChange, many, outcomes);
        for (const auto& o : outcomes) EXPECT_TRUE(o.error && display(*o.error) == text) << text;
    };
    const std::string p = "invalid parameter p: must be finite and between 0 and 1";
    refused(whittaker::IaslsWeights{1.5, 1e-4}, p);
    refused(whittaker::IaslsWeights{0.1, -1.0}, "invalid parameter lam_1: must be finite and not negative");
    refused(whittaker::DrPlsWeights{1.5}, "invalid parameter eta: must be finite and from 0 to 1");
    refused(whittaker::AsPlsWeights{0.0}, "invalid parameter asymmetric_coef: must be finite and positive");
    refused(whittaker::PsalsaWeights{kNaN, 1.0}, p);
    refused(whittaker::PsalsaWeights{0.5, -1.0}, "invalid parameter k: must be finite and positive");
    refused(whittaker::DerPsalsaWeights{0.5, kNaN, 0, 5000}, "invalid parameter num_smooths: must be at most 1000");
    refused(whittaker::BrPlsWeights{0, 1e-3}, "invalid parameter max_iter_2: must be greater than zero");
}
