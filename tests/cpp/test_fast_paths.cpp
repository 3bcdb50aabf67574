// The optimised kernels against plain transcriptions of their defining loops, bit for bit.
#include <functional>

#include "core/extrapolated.hpp"
#include "linalg/pentadiagonal.hpp"
#include "morphology/extrema.hpp"
#include "morphology/rolling_ball.hpp"
#include "morphology/two_d/morphology.hpp"
#include "support.hpp"
#include "whittaker/aspls.hpp"
#include "whittaker/brpls.hpp"
#include "whittaker/derpsalsa.hpp"
#include "whittaker/psalsa.hpp"
#include "whittaker/sample_kernels.hpp"
#include "whittaker/two_d/whittaker.hpp"

using namespace quorvel;
using namespace quorvel::support;

namespace {

// Signals with ties and zeros of both signs, where a careless kernel picks another candidate.
V awkward(std::mt19937_64& rng, std::size_t n) {
    V x = uniform(rng, n, -3.0, 3.0);
    for (std::size_t i = 0; i < n; i += 3) x[i] = (i / 3) % 2 ? -0.0 : 0.0;
    for (std::size_t i = 1; i < n; i += 7) x[i] = std::round(x[i]);
    return x;
}

// The reflection as a literal bouncing walk, independent of the closed form the kernels use.
std::size_t bounce(std::int64_t j, std::size_t n) {
    const auto size = static_cast<std::int64_t>(n);
    while (j < 0 || j >= size) j = j < 0 ? -j - 1 : 2 * size - 1 - j;
    return static_cast<std::size_t>(j);
}

V scan_extremum(const V& x, std::size_t h, bool minimum) {
    const auto n = x.size();
    V out(n);
    for (std::size_t i = 0; i < n; ++i) {
        double v = minimum ? kInf : -kInf;
        for (std::int64_t k = std::int64_t(i) - std::int64_t(h); k <= std::int64_t(i + h); ++k) {
            const double s = x[bounce(k, n)];
            if (minimum ? s < v : s > v) v = s;
        }
        out[i] = v;
    }
    return out;
}

V plain_moving_average(const V& x, std::size_t h, EdgeLine line) {
    const V p = pad_extrapolated(x, h, line);
    V out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double sum = -0.0;
        for (std::size_t k = i; k <= i + 2 * h; ++k) sum = sum + p[k];
        out[i] = sum / double(2 * h + 1);
    }
    return out;
}

V plain_pentadiagonal(const V& y, const V& w, double lambda) {
    const std::size_t n = y.size();
    linalg::pentadiagonal::PentadiagonalWorkspace b(n);
    linalg::pentadiagonal::fill_second_order_bands(w, b.diag, b.off1, b.off2, lambda);
    V l(n), s1(n, 0.0), s2(n, 0.0), t(n), x(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= 2) s2[i] = b.off2[i - 2] / l[i - 2];
        if (i >= 1) s1[i] = (b.off1[i - 1] - s1[i - 1] * s2[i]) / l[i - 1];
        l[i] = std::sqrt(b.diag[i] - s1[i] * s1[i] - s2[i] * s2[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        double v = w[i] * y[i];
        if (i >= 1) v = v - s1[i] * t[i - 1];
        if (i >= 2) v = v - s2[i] * t[i - 2];
        t[i] = v / l[i];
    }
    for (std::size_t i = n; i-- > 0;) {
        double v = t[i];
        if (i + 1 < n) v = v - s1[i + 1] * x[i + 1];
        if (i + 2 < n) v = v - s2[i + 2] * x[i + 2];
        x[i] = v / l[i];
    }
    return x;
}

}  // namespace

TEST(FastPaths, moving_extrema_and_average_match_the_direct_scans) {
    std::mt19937_64 rng(7);
    for (std::size_t n : {1, 2, 5, 31, 32, 33, 100, 257, 1000, 4099}) {
        for (std::size_t h : {0, 1, 3, 15, 40}) {
            const V x = awkward(rng, n);
            V max(n);
            morphology::moving_max_reflect(x, h, max);
            EXPECT_TRUE(same_bits(morphology::moving_min_reflect(x, h), scan_extremum(x, h, true))) << n << " " << h;
            EXPECT_TRUE(same_bits(max, scan_extremum(x, h, false))) << n << " " << h;
            const V opened = scan_extremum(scan_extremum(x, h, true), h, false);
            EXPECT_TRUE(same_bits(morphology::opening_reflect(x, h), opened)) << n << " " << h;
            for (const EdgeLine line : {EdgeLine::FromStart, EdgeLine::Local}) {
                V avg(n);
                moving_average_extrapolated(x, h, avg, line);
                EXPECT_TRUE(same_bits(avg, plain_moving_average(x, h, line))) << n << " " << h;
            }
        }
    }
}

TEST(FastPaths, pentadiagonal_solve_matches_the_separate_passes) {
    std::mt19937_64 rng(11);
    for (std::size_t n : {3, 4, 5, 64, 1001}) {
        const V y = uniform(rng, n, -5.0, 5.0), w = uniform(rng, n, 0.0, 1.0);
        linalg::pentadiagonal::PentadiagonalWorkspace ws;
        for (double lambda : {1e-3, 1.0, 1e6}) {
            V z(n);
            ASSERT_TRUE(linalg::pentadiagonal::solve_second_order(y, w, z, ws, lambda));
            EXPECT_TRUE(same_bits(z, plain_pentadiagonal(y, w, lambda))) << n << " " << lambda;
        }
    }
}

TEST(FastPaths, grid_rolling_ball_matches_the_direct_definition) {
    std::mt19937_64 rng(13);
    using Shape = std::pair<std::uint64_t, std::uint64_t>;
    for (const auto& shape : {Shape{1, 1}, Shape{2, 9}, Shape{9, 2}, Shape{7, 7}, Shape{13, 40}, Shape{33, 17}}) {
        const std::uint64_t rows = shape.first, cols = shape.second, n = rows * cols;
        for (std::uint64_t win : {1, 3, 7, 20, 41}) {
            const std::uint64_t h = win / 2;
            auto at = [&](std::uint64_t p, std::uint64_t d, std::uint64_t len) {
                return bounce(std::int64_t(p + d) - std::int64_t(h), len);
            };
            // The whole reflected rectangle of every point, folded in row-then-column order.
            auto fold = [&](const V& in, double start, auto op) {
                V out(n);
                for (std::uint64_t r = 0; r < rows; ++r) {
                    for (std::uint64_t c = 0; c < cols; ++c) {
                        double v = start;
                        for (std::uint64_t dr = 0; dr <= 2 * h; ++dr) {
                            for (std::uint64_t dc = 0; dc <= 2 * h; ++dc) {
                                v = op(v, in[at(r, dr, rows) * cols + at(c, dc, cols)]);
                            }
                        }
                        out[r * cols + c] = v;
                    }
                }
                return out;
            };
            V data = awkward(rng, n);
            data[n / 2] = kNaN;  // ignored by the extrema, as minNum and maxNum do
            const V opened = fold(fold(data, kInf, [](double a, double b) { return std::fmin(a, b); }), -kInf,
                                  [](double a, double b) { return std::fmax(a, b); });
            V expected = fold(opened, 0.0, [](double a, double b) { return a + b; });
            for (double& v : expected) v = v / double((2 * h + 1) * (2 * h + 1));
            const auto fit = two_d::morphology::rolling_ball({data, rows, cols}, win, win);
            ASSERT_TRUE(fit);
            EXPECT_TRUE(same_bits(fit.value().baseline, expected)) << rows << "x" << cols << " window " << win;
            EXPECT_TRUE(fit.value().report.iterations == 1 && fit.value().report.converged);
        }
    }
}

TEST(FastPaths, grid_stencil_rows_match_the_pointwise_product) {
    std::mt19937_64 rng(17);
    for (const auto& [rows, cols] : {std::pair<std::uint64_t, std::uint64_t>{3, 3}, {3, 9}, {5, 5}, {6, 11}, {12, 7}}) {
        const std::uint64_t n = rows * cols;
        const V w = uniform(rng, n, 0.0, 1.0), v = awkward(rng, n);
        auto t_diag = [](std::uint64_t t, std::uint64_t m) {
            return t == 0 || t == m - 1 ? 1.0 : m == 3 ? 4.0 : t == 1 || t == m - 2 ? 5.0 : 6.0;
        };
        auto t_off = [](std::uint64_t t, std::uint64_t m) { return t == 0 || t == m - 2 ? -2.0 : -4.0; };
        V expected(n), got(n);
        for (std::uint64_t i = 0; i < rows; ++i) {
            for (std::uint64_t j = 0; j < cols; ++j) {
                const std::uint64_t k = i * cols + j, R = rows, C = cols;
                double sr = t_diag(i, R) * v[k];
                if (i >= 1) sr = sr + t_off(i - 1, R) * v[k - C];
                if (i + 1 < R) sr = sr + t_off(i, R) * v[k + C];
                if (i >= 2) sr = sr + v[k - 2 * C];
                if (i + 2 < R) sr = sr + v[k + 2 * C];
                double sc = t_diag(j, C) * v[k];
                if (j >= 1) sc = sc + t_off(j - 1, C) * v[k - 1];
                if (j + 1 < C) sc = sc + t_off(j, C) * v[k + 1];
                if (j >= 2) sc = sc + v[k - 2];
                if (j + 2 < C) sc = sc + v[k + 2];
                expected[k] = (w[k] * v[k] + 3.5 * sr) + 0.25 * sc;
            }
        }
        two_d::whittaker::apply_system({rows, cols, 3.5, 0.25, w}, v, got);
        EXPECT_TRUE(same_bits(got, expected)) << rows << "x" << cols;
    }
}

// Each rule's weights in packs against its one-sample form, over residuals from far below to far above
// the spread, where exponentials underflow or overflow, and where the residual is exactly at the spread.
TEST(FastPaths, weights_in_packs_match_one_by_one) {
    const auto kernels = whittaker::sample_kernels();
    if (!kernels) GTEST_SKIP() << "no wider registers on this CPU";
    using One = simd::ScalarPack<1>;
    const auto one = [](double v) { return One::splat(v); };
    std::mt19937_64 rng(9);
    const std::size_t n = 64 * kernels->width;
    V y = uniform(rng, n, -1e3, 1e3), z = uniform(rng, n, -1.0, 1.0), screen = uniform(rng, n, 0.0, 1.0), got(n);
    for (std::size_t i = 0; i < n; i += 2) y[i] = y[i] * 1e-3;
    y[0] = z[0] + 0.7;
    const whittaker::BrPlsPosterior posterior{0.7, 0.2, 0.9};
    using Scalar = std::function<double(std::size_t)>;
    const std::vector<std::pair<std::function<void()>, Scalar>> cases = {
        {[&] { kernels->aspls_weights(y.data(), z.data(), got.data(), n, 3.0, 0.7); },
         [&](std::size_t i) { return whittaker::aspls_weight(one(y[i] - z[i]), one(0.7), one(3.0 / 0.7)).v[0]; }},
        {[&] { kernels->brpls_weights(y.data(), z.data(), got.data(), n, posterior); },
         [&](std::size_t i) { return whittaker::brpls_weight(one(y[i] - z[i]), posterior).v[0]; }},
        {[&] { kernels->psalsa_weights(y.data(), z.data(), got.data(), n, 0.3, 0.7); },
         [&](std::size_t i) {
             return whittaker::psalsa_weight(one(y[i] - z[i]), one(0.3), one(0.7), one(-1.0 / 0.7)).v[0];
         }},
        {[&] { kernels->derpsalsa_weights(y.data(), z.data(), screen.data(), got.data(), n, 0.3, 0.7); },
         [&](std::size_t i) {
             return screen[i] * whittaker::derpsalsa_decay(one(y[i] - z[i]), one(0.3), one(0.7), one(1.0 / 0.7)).v[0];
         }},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        cases[c].first();
        for (std::size_t i = 0; i < n; ++i) ASSERT_TRUE(same_bits({got[i]}, {cases[c].second(i)})) << c << " " << i;
    }
}
