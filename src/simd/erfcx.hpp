// exp(x^2) erfc(x), the scaled complementary error function, written once over packs like exp.hpp: within
// about 2e-15 of the value for x >= 0 (e^(x^2) erfc(x) - 1/(x sqrt(pi)) never cancels there); infinite for
// x below about -26.6, where the value overflows; NaN for NaN.
#pragma once

#include <array>
#include <cstddef>

#include "exp.hpp"

namespace quorvel::simd {

// erfcx(a) for a >= 0 as numerator / denominator, denominator = 1 + 2a: for callers that fold the division
// into one of their own.
template <class P>
struct ErfcxQuotient {
    P numerator, denominator;
};

template <class P>
[[gnu::always_inline]] inline ErfcxQuotient<P> erfcx_of_magnitude(const P& a) {
    // (1 + 2a) erfcx(a) on [0, inf) is smooth in y = (a - 3) / (a + 3) on [-1, 1]: a least-squares fit of
    // degree 22 at Chebyshev points, within 1e-15, summed in Estrin's order so that the chain is short.
    constexpr std::array<double, 23> c = {
        0x1.40c522d7e4986p+0,  -0x1.15c084bb9e836p-3,  -0x1.85a15c58a9a16p-5,  0x1.098366a5b029ap-3,
        -0x1.e88b803a5c224p-4, 0x1.17ca2878d0903p-4,   -0x1.8574c405d93aap-6,  0x1.4b884cf44aa8ep-9,
        0x1.ef1bd97e1faa6p-10, -0x1.98db2e2755bcep-11, -0x1.b91110907ed90p-14, 0x1.06580089ad1aep-13,
        0x1.4bd392d195eb5p-18, -0x1.510d5acef5513p-16, -0x1.8259ffc0d959fp-21, 0x1.cf9b182a65ddap-19,
        0x1.6a945c53583d7p-22, -0x1.401e6c7976685p-21, -0x1.0462e66e7e363p-23, 0x1.783d2a4c07630p-24,
        0x1.e362bcf1b77fbp-26, -0x1.062f3a38e87f2p-27, -0x1.bc731ec65cd1cp-29};
    const P one = P::splat(1.0), two = P::splat(2.0);
    const P y = one - P::splat(6.0) / (a + P::splat(3.0));  // 1 where a is infinite
    const P y2 = y * y, y4 = y2 * y2, y8 = y4 * y4, y16 = y8 * y8;
    const auto pair = [&](std::size_t i) { return P::splat(c[i]) + P::splat(c[i + 1]) * y; };
    const auto quad = [&](std::size_t i) { return pair(i) + pair(i + 2) * y2; };
    const P high = quad(16) + (pair(20) + P::splat(c[22]) * y2) * y4;  // c[16] .. c[22]
    const P low = (quad(0) + quad(4) * y4) + (quad(8) + quad(12) * y4) * y8;
    return {low + high * y16, one + two * a};
}

template <class P>
[[gnu::always_inline]] inline P erfcx(const P& x) {
    const P a = abs(x);
    const auto [numerator, denominator] = erfcx_of_magnitude(a);
    const P positive = numerator / denominator;
    // erfcx(-a) = 2 e^(a^2) - erfcx(a), and e^(a^2) = 1 / e^(-a^2) overflows to infinity with the value.
    const P negative = P::splat(2.0) / exp_nonpositive(-(a * a)) - positive;
    return blend(x < P::splat(0.0), negative, positive);
}

inline double erfcx(double x) { return erfcx(ScalarPack<1>::splat(x)).v[0]; }

}  // namespace quorvel::simd
