#include "lane_kernel_table.hpp"
#include "simd/scalar_pack.hpp"

namespace quorvel::whittaker {

// Four independent scalar streams keep the divider busy where one solve would leave it waiting.
LaneKernels interleaved_lane_kernels() { return lanes::make_lane_kernels<simd::ScalarPack<4>>(); }

}  // namespace quorvel::whittaker
