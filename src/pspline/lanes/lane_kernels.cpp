#include "lane_solve.hpp"
#include "simd/cpu.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::pspline {

SplineLaneKernels interleaved_spline_kernels() { return lanes::make_spline_kernels<simd::ScalarPack<4>>(); }

SplineLaneKernels spline_kernels() {
#if defined(QUORVEL_AVX2)
    if (simd::avx2_available()) return avx2_spline_kernels();
#endif
    return interleaved_spline_kernels();
}

}  // namespace quorvel::pspline
