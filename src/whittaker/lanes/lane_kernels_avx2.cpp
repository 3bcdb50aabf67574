// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "lane_kernel_table.hpp"
#include "simd/avx2_pack.hpp"

namespace quorvel::whittaker {

LaneKernels avx2_lane_kernels(int vectors) {
    switch (vectors) {
        case 1: return lanes::make_lane_kernels<simd::Avx2Pack<1>>();
        case 2: return lanes::make_lane_kernels<simd::Avx2Pack<2>>();
        default: return lanes::make_lane_kernels<simd::Avx2Pack<3>>();
    }
}

}  // namespace quorvel::whittaker
