#include "chebyshev_kernels.hpp"
#include "chebyshev_lanes.hpp"
#include "simd/avx2_pack.hpp"

namespace quorvel::polynomial::kernels {

Kernels avx2_kernels() { return kernels_of<simd::Avx2Pack<1>>(); }

}  // namespace quorvel::polynomial::kernels
