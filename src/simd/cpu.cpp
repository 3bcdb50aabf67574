#include "cpu.hpp"

namespace quorvel::simd {

bool avx2_available() {
#if defined(QUORVEL_AVX2)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace quorvel::simd
