#include "count_ranks.hpp"

#include "simd/cpu.hpp"

namespace quorvel::smoothing {

CountRanks count_ranks() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return count_ranks_avx2;
#endif
    return count_ranks_here;
}

}  // namespace quorvel::smoothing
