// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "lane_kernel_table.hpp"
#include "simd/avx2_pack.hpp"

namespace quorvel::whittaker {

LaneKernels avx2_lane_kernels(int vectors) {
    return vectors == 1 ? lanes::make_lane_kernels<simd::Avx2Pack<1>>() : lanes::make_lane_kernels<simd::Avx2Pack<2>>();
}

}  // namespace quorvel::whittaker
