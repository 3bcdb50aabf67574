#include "sample_kernels.hpp"

#include "simd/cpu.hpp"

namespace quorvel::whittaker {

std::optional<SampleKernels> sample_kernels() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return avx2_sample_kernels();
#endif
    return std::nullopt;
}

}  // namespace quorvel::whittaker
