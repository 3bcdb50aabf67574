// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "mollifier.hpp"

namespace quorvel::linalg {

void mollify_sums_avx2(const double* mirrored, const double* kernel, std::size_t half, double* out,
                       std::size_t count) {
    mollify_in_strips<4, 4>(mirrored, kernel, half, out, count);
}

}  // namespace quorvel::linalg
