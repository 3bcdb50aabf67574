#include "lane_solve.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::pspline {

SplineLaneKernels interleaved_spline_kernels() { return lanes::make_spline_kernels<simd::ScalarPack<4>>(); }

}  // namespace quorvel::pspline
