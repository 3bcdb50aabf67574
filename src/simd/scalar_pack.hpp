// W doubles handled as one value: each element is its own stream of scalar IEEE operations.
// The lane kernels are written once against this interface; the AVX2 pack provides the same.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace quorvel::simd {

template <std::size_t W>
struct ScalarMask {
    bool v[W];
};

template <std::size_t W>
struct ScalarPack {
    static constexpr std::size_t width = W;
    using Mask = ScalarMask<W>;
    double v[W];

    static ScalarPack splat(double x) {
        ScalarPack r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = x;
        return r;
    }
    static ScalarPack load(const double* p) {
        ScalarPack r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = p[l];
        return r;
    }
    void store(double* p) const {
        for (std::size_t l = 0; l < W; ++l) p[l] = v[l];
    }
};

template <std::size_t W, class Op>
ScalarPack<W> lanewise(const ScalarPack<W>& a, const ScalarPack<W>& b, Op op) {
    ScalarPack<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = op(a.v[l], b.v[l]);
    return r;
}

template <std::size_t W, class Op>
ScalarMask<W> compare(const ScalarPack<W>& a, const ScalarPack<W>& b, Op op) {
    ScalarMask<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = op(a.v[l], b.v[l]);
    return r;
}

template <std::size_t W>
ScalarPack<W> operator+(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return lanewise(a, b, [](double x, double y) { return x + y; });
}
template <std::size_t W>
ScalarPack<W> operator-(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return lanewise(a, b, [](double x, double y) { return x - y; });
}
template <std::size_t W>
ScalarPack<W> operator*(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return lanewise(a, b, [](double x, double y) { return x * y; });
}
template <std::size_t W>
ScalarPack<W> operator/(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return lanewise(a, b, [](double x, double y) { return x / y; });
}
template <std::size_t W>
ScalarPack<W> operator-(const ScalarPack<W>& a) {
    return lanewise(a, a, [](double x, double) { return -x; });
}

// Ordered comparisons: false wherever a NaN takes part.
template <std::size_t W>
ScalarMask<W> operator<(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return compare(a, b, [](double x, double y) { return x < y; });
}
template <std::size_t W>
ScalarMask<W> operator>(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return compare(a, b, [](double x, double y) { return x > y; });
}
template <std::size_t W>
ScalarMask<W> operator<=(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return compare(a, b, [](double x, double y) { return x <= y; });
}
template <std::size_t W>
ScalarMask<W> operator>=(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return compare(a, b, [](double x, double y) { return x >= y; });
}

template <std::size_t W>
ScalarMask<W> equal(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return compare(a, b, [](double x, double y) { return x == y; });
}

template <std::size_t W>
ScalarMask<W> operator&(const ScalarMask<W>& a, const ScalarMask<W>& b) {
    ScalarMask<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = a.v[l] && b.v[l];
    return r;
}
template <std::size_t W>
ScalarMask<W> operator|(const ScalarMask<W>& a, const ScalarMask<W>& b) {
    ScalarMask<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = a.v[l] || b.v[l];
    return r;
}
template <std::size_t W>
ScalarMask<W> operator!(const ScalarMask<W>& a) {
    ScalarMask<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = !a.v[l];
    return r;
}
template <std::size_t W>
bool any_of(const ScalarMask<W>& a) {
    bool r = false;
    for (std::size_t l = 0; l < W; ++l) r = r || a.v[l];
    return r;
}
template <std::size_t W>
void store_mask(const ScalarMask<W>& a, bool* out) {
    for (std::size_t l = 0; l < W; ++l) out[l] = a.v[l];
}

template <std::size_t W>
ScalarPack<W> blend(const ScalarMask<W>& m, const ScalarPack<W>& a, const ScalarPack<W>& b) {
    ScalarPack<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = m.v[l] ? a.v[l] : b.v[l];
    return r;
}

template <std::size_t W>
ScalarPack<W> sqrt(const ScalarPack<W>& a) {
    return lanewise(a, a, [](double x, double) { return std::sqrt(x); });
}
template <std::size_t W>
ScalarPack<W> abs(const ScalarPack<W>& a) {
    return lanewise(a, a, [](double x, double) { return std::fabs(x); });
}
template <std::size_t W>
ScalarPack<W> max_num(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return lanewise(a, b, [](double x, double y) { return std::fmax(x, y); });
}
template <std::size_t W>
ScalarPack<W> min_num(const ScalarPack<W>& a, const ScalarPack<W>& b) {
    return lanewise(a, b, [](double x, double y) { return std::fmin(x, y); });
}

// 2^k for integral k from -1022 to 1023, built from its bits.
template <std::size_t W>
ScalarPack<W> power_of_two(const ScalarPack<W>& k) {
    ScalarPack<W> r;
    for (std::size_t l = 0; l < W; ++l) {
        r.v[l] = std::bit_cast<double>(static_cast<std::uint64_t>(static_cast<std::int64_t>(k.v[l]) + 1023) << 52);
    }
    return r;
}

// The C library's exp in the lanes of m, 0.0 elsewhere.
template <std::size_t W>
ScalarPack<W> exp_where(const ScalarMask<W>& m, const ScalarPack<W>& a) {
    ScalarPack<W> r;
    for (std::size_t l = 0; l < W; ++l) r.v[l] = m.v[l] ? std::exp(a.v[l]) : 0.0;
    return r;
}

template <std::size_t W>
ScalarPack<W> exp_each(const ScalarPack<W>& a) {
    return lanewise(a, a, [](double x, double) { return std::exp(x); });
}

}  // namespace quorvel::simd
