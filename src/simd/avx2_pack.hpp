// 4 * V doubles in V AVX2 registers, with the interface of ScalarPack. Include only from files built
// with -mavx2. Every operation is the correctly rounded IEEE one per lane; nothing here may fuse.
#pragma once

#include <immintrin.h>

#include <cmath>
#include <cstddef>

namespace quorvel::simd {
// Internal linkage on purpose: code built for AVX2 must never be merged with a baseline copy.
namespace {

template <int V>
struct Avx2Mask {
    __m256d m[V];
};

template <int V>
struct Avx2Pack {
    static constexpr std::size_t width = 4 * V;
    using Mask = Avx2Mask<V>;
    __m256d r[V];

    static Avx2Pack splat(double x) {
        Avx2Pack p;
        for (int k = 0; k < V; ++k) p.r[k] = _mm256_set1_pd(x);
        return p;
    }
    static Avx2Pack load(const double* a) {
        Avx2Pack p;
        for (int k = 0; k < V; ++k) p.r[k] = _mm256_loadu_pd(a + 4 * k);
        return p;
    }
    void store(double* a) const {
        for (int k = 0; k < V; ++k) _mm256_storeu_pd(a + 4 * k, r[k]);
    }
};

template <int V, class Op>
Avx2Pack<V> each(const Avx2Pack<V>& a, const Avx2Pack<V>& b, Op op) {
    Avx2Pack<V> p;
    for (int k = 0; k < V; ++k) p.r[k] = op(a.r[k], b.r[k]);
    return p;
}

template <int V, int Predicate>
Avx2Mask<V> compare(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    Avx2Mask<V> m;
    for (int k = 0; k < V; ++k) m.m[k] = _mm256_cmp_pd(a.r[k], b.r[k], Predicate);
    return m;
}

template <int V>
Avx2Pack<V> operator+(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return each(a, b, [](__m256d x, __m256d y) { return _mm256_add_pd(x, y); });
}
template <int V>
Avx2Pack<V> operator-(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return each(a, b, [](__m256d x, __m256d y) { return _mm256_sub_pd(x, y); });
}
template <int V>
Avx2Pack<V> operator*(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return each(a, b, [](__m256d x, __m256d y) { return _mm256_mul_pd(x, y); });
}
template <int V>
Avx2Pack<V> operator/(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return each(a, b, [](__m256d x, __m256d y) { return _mm256_div_pd(x, y); });
}
// Flips the sign bit, as scalar negation does.
template <int V>
Avx2Pack<V> operator-(const Avx2Pack<V>& a) {
    return each(a, a, [](__m256d x, __m256d) { return _mm256_xor_pd(x, _mm256_set1_pd(-0.0)); });
}

// Ordered and quiet: false wherever a NaN takes part, as the scalar comparisons are.
template <int V>
Avx2Mask<V> operator<(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return compare<V, _CMP_LT_OQ>(a, b);
}
template <int V>
Avx2Mask<V> operator>(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return compare<V, _CMP_GT_OQ>(a, b);
}
template <int V>
Avx2Mask<V> operator<=(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return compare<V, _CMP_LE_OQ>(a, b);
}
template <int V>
Avx2Mask<V> operator>=(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return compare<V, _CMP_GE_OQ>(a, b);
}

template <int V>
Avx2Mask<V> equal(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return compare<V, _CMP_EQ_OQ>(a, b);
}

template <int V>
Avx2Mask<V> operator&(const Avx2Mask<V>& a, const Avx2Mask<V>& b) {
    Avx2Mask<V> m;
    for (int k = 0; k < V; ++k) m.m[k] = _mm256_and_pd(a.m[k], b.m[k]);
    return m;
}
template <int V>
Avx2Mask<V> operator|(const Avx2Mask<V>& a, const Avx2Mask<V>& b) {
    Avx2Mask<V> m;
    for (int k = 0; k < V; ++k) m.m[k] = _mm256_or_pd(a.m[k], b.m[k]);
    return m;
}
template <int V>
Avx2Mask<V> operator!(const Avx2Mask<V>& a) {
    Avx2Mask<V> m;
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    for (int k = 0; k < V; ++k) m.m[k] = _mm256_xor_pd(a.m[k], all);
    return m;
}
// Lane l of the pack is bit l.
template <int V>
unsigned bits_of(const Avx2Mask<V>& a) {
    unsigned bits = 0;
    for (int k = 0; k < V; ++k) bits |= static_cast<unsigned>(_mm256_movemask_pd(a.m[k])) << (4 * k);
    return bits;
}
template <int V>
bool any_of(const Avx2Mask<V>& a) {
    return bits_of(a) != 0;
}
template <int V>
void store_mask(const Avx2Mask<V>& a, bool* out) {
    const unsigned bits = bits_of(a);
    for (int l = 0; l < 4 * V; ++l) out[l] = (bits >> l) & 1u;
}

template <int V>
Avx2Pack<V> blend(const Avx2Mask<V>& m, const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    Avx2Pack<V> p;
    for (int k = 0; k < V; ++k) p.r[k] = _mm256_blendv_pd(b.r[k], a.r[k], m.m[k]);
    return p;
}

template <int V>
Avx2Pack<V> sqrt(const Avx2Pack<V>& a) {
    return each(a, a, [](__m256d x, __m256d) { return _mm256_sqrt_pd(x); });
}
// Clears the sign bit, as fabs does.
template <int V>
Avx2Pack<V> abs(const Avx2Pack<V>& a) {
    return each(a, a, [](__m256d x, __m256d) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), x); });
}
// fmax and fmin for a second operand that is a number: max_pd and min_pd return it whenever the
// first is NaN, and either operand when they are equal.
template <int V>
Avx2Pack<V> max_num(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return each(a, b, [](__m256d x, __m256d y) { return _mm256_max_pd(x, y); });
}
template <int V>
Avx2Pack<V> min_num(const Avx2Pack<V>& a, const Avx2Pack<V>& b) {
    return each(a, b, [](__m256d x, __m256d y) { return _mm256_min_pd(x, y); });
}

// 2^k for integral k from -1022 to 1023: k + 1023 lands in the low mantissa bits of k + 1023 + 2^52,
// and shifted into the exponent field it is 2^k.
template <int V>
Avx2Pack<V> power_of_two(const Avx2Pack<V>& k) {
    Avx2Pack<V> p;
    const __m256d bias = _mm256_set1_pd(0x1p52 + 1023.0);
    for (int j = 0; j < V; ++j) {
        const __m256i biased = _mm256_castpd_si256(_mm256_add_pd(k.r[j], bias));
        p.r[j] = _mm256_castsi256_pd(_mm256_slli_epi64(biased, 52));
    }
    return p;
}

// The C library's exp, one call per lane of m; 0.0 in the other lanes. The results are gathered
// in registers: four scalar stores read back as one vector would stall the load.
template <int V>
Avx2Pack<V> exp_where(const Avx2Mask<V>& m, const Avx2Pack<V>& a) {
    Avx2Pack<V> p;
    for (int k = 0; k < V; ++k) {
        const unsigned bits = static_cast<unsigned>(_mm256_movemask_pd(m.m[k]));
        if (bits == 0) {
            p.r[k] = _mm256_setzero_pd();
            continue;
        }
        alignas(32) double v[4];
        _mm256_store_pd(v, a.r[k]);
        auto lane = [&](int l) { return (bits >> l) & 1u ? std::exp(v[l]) : 0.0; };
        const double e0 = lane(0), e1 = lane(1), e2 = lane(2), e3 = lane(3);
        p.r[k] = _mm256_setr_pd(e0, e1, e2, e3);
    }
    return p;
}
template <int V>
Avx2Pack<V> exp_each(const Avx2Pack<V>& a) {
    Avx2Pack<V> p;
    for (int k = 0; k < V; ++k) {
        alignas(32) double v[4];
        _mm256_store_pd(v, a.r[k]);
        const double e0 = std::exp(v[0]), e1 = std::exp(v[1]), e2 = std::exp(v[2]), e3 = std::exp(v[3]);
        p.r[k] = _mm256_setr_pd(e0, e1, e2, e3);
    }
    return p;
}

}  // namespace
}  // namespace quorvel::simd
