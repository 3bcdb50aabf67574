// Built with -mavx2 alone (never FMA); reached only through passes_for_this_cpu().
#include <immintrin.h>

#include "passes.hpp"

namespace quorvel::polynomial {
namespace {

// Samples i .. i + 3 as four vectors: the coordinates, exactly (i + i) / (n - 1) - 1 per lane.
struct Quad {
    __m256d next_index;
    __m256d last;

    __m256d advance() {
        const __m256d fi = next_index;
        next_index = _mm256_add_pd(fi, _mm256_set1_pd(4.0));  // integers below 2^53: exact
        return _mm256_sub_pd(_mm256_div_pd(_mm256_add_pd(fi, fi), last), _mm256_set1_pd(1.0));
    }
};

Quad quad_from(std::size_t start, std::size_t n) {
    return {_mm256_add_pd(_mm256_set1_pd(static_cast<double>(start)), _mm256_setr_pd(0.0, 1.0, 2.0, 3.0)),
            _mm256_set1_pd(static_cast<double>(n - 1))};
}

// Adds sample k's column (a[k], b[k], c[k], d[k]) to acc for k = 0 .. 3 in turn.
__m256d add_columns(__m256d acc, __m256d a, __m256d b, __m256d c, __m256d d) {
    const __m256d ab_lo = _mm256_unpacklo_pd(a, b), ab_hi = _mm256_unpackhi_pd(a, b);
    const __m256d cd_lo = _mm256_unpacklo_pd(c, d), cd_hi = _mm256_unpackhi_pd(c, d);
    acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_lo, cd_lo, 0x20));
    acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_hi, cd_hi, 0x20));
    acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_lo, cd_lo, 0x31));
    return _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_hi, cd_hi, 0x31));
}

}  // namespace

LowOrderSums low_order_sums_avx2(const double* y, std::size_t n) {
    Quad quad = quad_from(0, n);
    // Lanes (x, xx, xxx, xxxx) and (y, yx, yxx, unused), each its own sum in sample order.
    __m256d powers = _mm256_setzero_pd(), moments = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d x = quad.advance(), yv = _mm256_loadu_pd(y + i);
        const __m256d xx = _mm256_mul_pd(x, x);
        powers = add_columns(powers, x, xx, _mm256_mul_pd(x, xx), _mm256_mul_pd(xx, xx));
        moments = add_columns(moments, yv, _mm256_mul_pd(yv, x), _mm256_mul_pd(yv, xx), _mm256_setzero_pd());
    }
    alignas(32) double p[4], m[4];
    _mm256_store_pd(p, powers);
    _mm256_store_pd(m, moments);
    LowOrderSums s{p[0], p[1], p[2], p[3], m[0], m[1], m[2]};
    const double last = static_cast<double>(n - 1);
    for (; i < n; ++i) {
        const double fi = static_cast<double>(i);
        const double x = (fi + fi) / last - 1.0, xx = x * x;
        s.x = x + s.x;
        s.xx = xx + s.xx;
        s.xxx = x * xx + s.xxx;
        s.xxxx = xx * xx + s.xxxx;
        s.y = y[i] + s.y;
        s.yx = y[i] * x + s.yx;
        s.yxx = y[i] * xx + s.yxx;
    }
    return s;
}

void scaled_coordinates_avx2(std::size_t start, std::size_t count, std::size_t n, double* x) {
    Quad quad = quad_from(start, n);
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) _mm256_storeu_pd(x + j, quad.advance());
    const double last = static_cast<double>(n - 1);
    for (; j < count; ++j) {
        const double fi = static_cast<double>(start + j);
        x[j] = (fi + fi) / last - 1.0;
    }
}

}  // namespace quorvel::polynomial
