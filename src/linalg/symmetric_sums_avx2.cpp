// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "symmetric_sums.hpp"

namespace quorvel::linalg {

void centre_out_sums_avx2(const double* e, const double* kernel, std::size_t half, double* out, std::size_t count) {
    symmetric_sums_in_strips<TapOrder::centre_out, 4, 4>(e, kernel, half, out, count);
}

void ends_in_sums_avx2(const double* e, const double* kernel, std::size_t half, double* out, std::size_t count) {
    symmetric_sums_in_strips<TapOrder::ends_in, 4, 4>(e, kernel, half, out, count);
}

}  // namespace quorvel::linalg
