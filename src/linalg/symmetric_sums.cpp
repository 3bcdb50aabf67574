#include "symmetric_sums.hpp"

#include "simd/cpu.hpp"

namespace quorvel::linalg {

template <>
SymmetricSums symmetric_sums<TapOrder::centre_out>() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return centre_out_sums_avx2;
#endif
    return symmetric_sums_in_strips<TapOrder::centre_out, 2, 4>;
}

template <>
SymmetricSums symmetric_sums<TapOrder::ends_in>() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return ends_in_sums_avx2;
#endif
    return symmetric_sums_in_strips<TapOrder::ends_in, 2, 4>;
}

}  // namespace quorvel::linalg
