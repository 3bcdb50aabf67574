// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "aspls.hpp"
#include "brpls.hpp"
#include "sample_kernels.hpp"
#include "simd/avx2_pack.hpp"

namespace quorvel::whittaker {
namespace {

using P = simd::Avx2Pack<1>;

void aspls_weights(const double* y, const double* z, double* out, std::size_t count, double coef, double sigma) {
    const P c = P::splat(coef), s = P::splat(sigma);
    for (std::size_t i = 0; i < count; i += P::width) {
        aspls_weight(P::load(y + i) - P::load(z + i), c, s).store(out + i);
    }
}

void brpls_weights(const double* y, const double* z, double* out, std::size_t count, const BrPlsPosterior& posterior) {
    for (std::size_t i = 0; i < count; i += P::width) {
        brpls_weight(P::load(y + i) - P::load(z + i), posterior).store(out + i);
    }
}

}  // namespace

SampleKernels avx2_sample_kernels() { return {P::width, aspls_weights, brpls_weights}; }

}  // namespace quorvel::whittaker
