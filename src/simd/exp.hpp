// exp of non-positive numbers written once over packs, so that a single fit and the lanes of a block get
// the same bits on every instruction set, and several values cost about what one call to the C library's
// exp does. Within 1 ulp of exp and monotone; 0 below about -745.13 (where exp rounds to 0); NaN for NaN.
#pragma once

#include "scalar_pack.hpp"

namespace quorvel::simd {

template <class P>
[[gnu::always_inline]] inline P exp_nonpositive(const P& x) {
    // From -746 down, and for -inf, the value below rounds to 0; NaN takes that path too, so that no lane
    // converts a NaN to an integer, and the last blend gives it back.
    const P clamped = max_num(x, P::splat(-746.0));
    // x = k ln 2 + r, |r| <= ln 2 / 2, with k rounded to nearest by the magic constant 1.5 * 2^52 and
    // ln 2 split so that k * ln2_hi is exact.
    const P magic = P::splat(0x1.8p52);
    const P k = (clamped * P::splat(1.4426950408889634) + magic) - magic;
    const P r = (clamped - k * P::splat(0x1.62e42fee00000p-1)) - k * P::splat(0x1.a39ef35793c76p-33);
    // e^r = 1 + r + r^2 q(r), q interpolating (e^r - 1 - r) / r^2 at the Chebyshev points of degree 9 on
    // [-ln 2 / 2, ln 2 / 2] (within 2e-17 of e^r there), its even and odd halves as two short chains.
    constexpr double c[] = {0x1.0000000000001p-1, 0x1.5555555555556p-3, 0x1.5555555553d63p-5, 0x1.11111111109b3p-7,
                            0x1.6c16c1788bd90p-10, 0x1.a01a01a7c41d5p-13, 0x1.a019b90d2ae7ap-16,
                            0x1.71de0dae63bb3p-19, 0x1.289185613a3d6p-22, 0x1.af38a9b0ec855p-26};
    const P r2 = r * r;
    const auto half = [&](int first) {
        P sum = P::splat(c[first + 8]);
        for (int i = first + 6; i >= first; i -= 2) sum = P::splat(c[i]) + sum * r2;
        return sum;
    };
    const P q = half(0) + r * half(1);
    const P sum = P::splat(1.0) + (r + r2 * q);
    // sum 2^(k + 64) is a normal number for every k from -1076 on, so that a value below the smallest normal
    // rounds once, in the product with 2^-64.
    const P value = (sum * power_of_two(k + P::splat(64.0))) * P::splat(0x1p-64);
    return blend(equal(x, x), value, x);
}

// One value, as each lane computes it.
inline double exp_nonpositive(double x) { return exp_nonpositive(ScalarPack<1>::splat(x)).v[0]; }

}  // namespace quorvel::simd
