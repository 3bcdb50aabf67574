// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "lane_solve.hpp"
#include "simd/avx2_pack.hpp"

namespace quorvel::pspline {

SplineLaneKernels avx2_spline_kernels() { return lanes::make_spline_kernels<simd::Avx2Pack<2>>(); }

}  // namespace quorvel::pspline
