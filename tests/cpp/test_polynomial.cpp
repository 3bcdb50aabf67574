#include <cstring>
#include <memory>

#include "core/numeric.hpp"
#include "linalg/dense.hpp"
#include "polynomial/chebyshev_kernels.hpp"
#include "polynomial/passes.hpp"
#include "polynomial/polynomial.hpp"
#include "simd/cpu.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using namespace quorvel::polynomial;

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

namespace {

// The defining loop: powers by repeated multiplication, both triangles, sums from 0.0 over the used
// samples; then the shared elimination and the closed forms or Horner.
V plain_polynomial(const V& y, std::uint64_t order, const std::vector<char>& used) {
    const std::size_t n = y.size(), m = order + 1;
    V a(m * m, 0.0), b(m, 0.0), p(m), c(m), pivot(m), out(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!used[i]) continue;
        p[0] = 1.0;
        for (std::size_t k = 1; k < m; ++k) p[k] = p[k - 1] * scaled_coordinate(i, n);
        for (std::size_t r = 0; r < m; ++r) {
            b[r] = y[i] * p[r] + b[r];
            for (std::size_t s = 0; s < m; ++s) a[r * m + s] = p[r] * p[s] + a[r * m + s];
        }
    }
    EXPECT_TRUE(linalg::dense::solve_dense_in_place(a, b, c, pivot));
    for (std::size_t i = 0; i < n; ++i) {
        const double x = scaled_coordinate(i, n);
        double acc = 0.0;
        for (std::size_t k = m; k-- > 0;) acc = x * acc + c[k];
        out[i] = m == 1 ? c[0] : m == 2 ? c[0] + c[1] * x : m == 3 ? c[0] + x * (c[1] + c[2] * x) : acc;
    }
    return out;
}

}  // namespace

TEST(Polynomial, fits_have_the_bits_of_the_defining_loop_with_and_without_a_mask) {
    std::mt19937_64 rng(29);
    for (std::size_t n : {1, 2, 3, 4, 5, 7, 64, 257, 1001, 4099}) {
        for (std::uint64_t order = 0; order < std::min<std::uint64_t>(n, 5); ++order) {
            V y = uniform(rng, n, -3.0, 3.0), out(n), masked_out(n);
            y[n / 2] = -0.0;
            std::vector<char> all(n, 1), some(n);
            const auto mask = std::make_unique<bool[]>(n);
            for (std::size_t i = 0; i < n; ++i) some[i] = mask[i] = i % 3 != 1 || n < 2 * (order + 1);
            ASSERT_TRUE(poly_into(y, order, out));
            EXPECT_TRUE(same_bits(out, plain_polynomial(y, order, all))) << n << " " << order;
            V y_masked = y;
            for (std::size_t i = 0; i < n; ++i) y_masked[i] = some[i] ? y[i] : kNaN;
            ASSERT_TRUE(poly_masked_into(y_masked, order, {mask.get(), n}, masked_out));
            EXPECT_TRUE(same_bits(masked_out, plain_polynomial(y, order, some))) << n << " " << order;
        }
    }
}

TEST(Polynomial, masked_fit_names_what_it_cannot_use) {
    const bool keep_two[] = {true, false, false, true}, keep_all[] = {true, true, true, true};
    struct Case { V y; std::span<const bool> mask; std::uint64_t order; std::string text; };
    const Case cases[] = {
        {{1, 2, 3, 4}, {keep_all, 3}, 1, "length mismatch for mask: expected 4, got 3"},
        {{1, kNaN, kInf, 4}, keep_two, 1, "ok"},
        {{1, kNaN, 3, 4}, keep_all, 1, "input contains a non-finite value at index 1"},
        {{1, 2, 3, 4}, keep_two, 2, "invalid parameter mask: must keep more samples than the polynomial order"},
    };
    for (const auto& c : cases) {
        V out(4, 8.0);
        EXPECT_EQ(outcome(poly_masked_into(c.y, c.order, c.mask, out)), c.text);
        EXPECT_TRUE(c.text == "ok" || out == V(4, 8.0)) << c.text;
    }
}

TEST(Polynomial, portable_and_avx2_passes_agree) {
    if (!simd::avx2_available()) GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937_64 rng(31);
    for (std::size_t n : {2, 3, 5, 8, 13, 1001}) {
        const V y = uniform(rng, n, -1e3, 1e3);
        const Passes avx2 = passes_for_this_cpu();
        const LowOrderSums a = low_order_sums(y.data(), n), b = avx2.sums(y.data(), n);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << n;
        V x(n), x_avx2(n);
        for (std::size_t start : {std::size_t{0}, n / 3}) {
            scaled_coordinates(start, n - start, n, x.data());
            avx2.coordinates(start, n - start, n, x_avx2.data());
            EXPECT_EQ(std::memcmp(x.data(), x_avx2.data(), (n - start) * sizeof(double)), 0) << n;
        }
    }
}

TEST(Polynomial, portable_and_avx2_chebyshev_kernels_agree) {
    if (!simd::avx2_available()) GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937_64 rng(37);
    const kernels::Kernels portable = kernels::portable_kernels(), avx2 = kernels::avx2_kernels();
    for (std::size_t n : {1, 3, 4, 7, 1001}) {
        const V t = uniform(rng, n, -1.0, 1.0);
        V w = uniform(rng, n, 0.0, 2.0), v = uniform(rng, n, -1e3, 1e3), used(n, 1.0);
        w[n / 2] = 0.0, v[n / 2] = kNaN, used[n / 2] = 0.0;  // a weight of 0 reads nothing
        for (std::size_t m : {1, 3, 11, 12, 21}) {
            V a(m), b(m);
            portable.weighted_sums(t, w, v.data(), m, a.data());
            avx2.weighted_sums(t, w, v.data(), m, b.data());
            EXPECT_EQ(std::memcmp(a.data(), b.data(), m * sizeof(double)), 0) << n << " " << m;
            EXPECT_TRUE(std::isfinite(a[0])) << n;
            V out_a = v, out_b = v;
            out_a[n / 2] = out_b[n / 2] = 1.0;
            const Change ca = portable.evaluate(t, a.data(), m, out_a, used);
            const Change cb = avx2.evaluate(t, a.data(), m, out_b, used);
            EXPECT_EQ(std::memcmp(out_a.data(), out_b.data(), n * sizeof(double)), 0) << n << " " << m;
            EXPECT_EQ(ca.distance2, cb.distance2);
            EXPECT_EQ(ca.norm2, cb.norm2);
        }
    }
}
