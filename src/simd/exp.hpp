// exp of non-positive numbers written once over packs, so that a single fit and the lanes of a block get
// the same bits on every instruction set, and several values cost about what one call to the C library's
// exp does. Within 2 ulp of exp; 0 below -745.2 (where exp underflows to 0); NaN for NaN.
#pragma once

#include "scalar_pack.hpp"

namespace quorvel::simd {

template <class P>
[[gnu::always_inline]] inline P exp_nonpositive(const P& x) {
    const P zero = P::splat(0.0);
    const P floor = P::splat(-745.2);
    // NaN takes the floor's path, so that no lane converts a NaN to an integer, and comes back as NaN.
    const P clamped = blend(x >= floor, x, floor);
    // x = k ln 2 + r, |r| <= ln 2 / 2, with k rounded to nearest by the magic constant 1.5 * 2^52 and
    // ln 2 split so that k * ln2_hi is exact.
    const P magic = P::splat(0x1.8p52);
    const P k = (clamped * P::splat(1.4426950408889634) + magic) - magic;
    const P r = (clamped - k * P::splat(0x1.62e42fee00000p-1)) - k * P::splat(0x1.a39ef35793c76p-33);
    // Taylor to degree 13 (the remainder is below 2^-58 of the value for |r| <= ln 2 / 2), in Estrin's
    // order: pairs, then pairs of pairs, so that a single fit waits on a chain of four steps, not thirteen.
    constexpr double c[] = {1.0,          1.0,           0.5,            1.0 / 6.0,       1.0 / 24.0,
                            1.0 / 120.0,  1.0 / 720.0,   1.0 / 5040.0,   1.0 / 40320.0,   1.0 / 362880.0,
                            1.0 / 3628800.0, 1.0 / 39916800.0, 1.0 / 479001600.0, 1.0 / 6227020800.0};
    const auto term = [&](int i) { return P::splat(c[i]) + P::splat(c[i + 1]) * r; };
    const P r2 = r * r, r4 = r2 * r2, r8 = r4 * r4;
    const P low = (term(0) + term(2) * r2) + (term(4) + term(6) * r2) * r4;
    const P high = (term(8) + term(10) * r2) + term(12) * r4;
    const P sum = low + high * r8;
    // 2^k in two halves, each a normal number, so that a result below the smallest normal rounds once.
    const P half = (k * P::splat(0.5) + magic) - magic;
    const P rest = k - half;
    const P value = sum * power_of_two(half) * power_of_two(rest);
    return blend(equal(x, x), blend(x < floor, zero, value), x);
}

// One value, as each lane computes it.
inline double exp_nonpositive(double x) { return exp_nonpositive(ScalarPack<1>::splat(x)).v[0]; }

}  // namespace quorvel::simd
