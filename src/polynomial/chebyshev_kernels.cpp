#include "chebyshev_kernels.hpp"

#include "chebyshev_lanes.hpp"
#include "simd/cpu.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::polynomial::kernels {

Kernels portable_kernels() { return kernels_of<simd::ScalarPack<4>>(); }

Kernels kernels_for_this_cpu() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return avx2_kernels();
#endif
    return portable_kernels();
}

}  // namespace quorvel::polynomial::kernels
