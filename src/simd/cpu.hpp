// What the running CPU offers beyond the baseline instruction set the library is built for.
#pragma once

namespace quorvel::simd {

// True when AVX2 kernels were built into this library and the CPU and OS can run them.
bool avx2_available();

}  // namespace quorvel::simd
