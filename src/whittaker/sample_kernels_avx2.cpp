// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "aspls.hpp"
#include "brpls.hpp"
#include "derpsalsa.hpp"
#include "psalsa.hpp"
#include "sample_kernels.hpp"
#include "simd/avx2_pack.hpp"

namespace quorvel::whittaker {
namespace {

using P = simd::Avx2Pack<1>;

void aspls_weights(const double* y, const double* z, double* out, std::size_t count, double coef, double sigma) {
    const P s = P::splat(sigma), steepness = P::splat(coef / sigma);
    for (std::size_t i = 0; i < count; i += P::width) {
        aspls_weight(P::load(y + i) - P::load(z + i), s, steepness).store(out + i);
    }
}

void brpls_weights(const double* y, const double* z, double* out, std::size_t count, const BrPlsPosterior& posterior) {
    const auto scales = brpls_scales(P::splat(posterior.sigma), P::splat(posterior.ratio));
    const P prior = P::splat(posterior.prior);
    for (std::size_t i = 0; i < count; i += P::width) {
        brpls_weight(P::load(y + i) - P::load(z + i), scales, prior).store(out + i);
    }
}

void psalsa_weights(const double* y, const double* z, double* out, std::size_t count, double p, double k) {
    const P weight = P::splat(p), below = P::splat(1.0 - p), scale = P::splat(-1.0 / k);
    for (std::size_t i = 0; i < count; i += P::width) {
        psalsa_weight(P::load(y + i) - P::load(z + i), weight, below, scale).store(out + i);
    }
}

void derpsalsa_weights(const double* y, const double* z, const double* screen, double* out, std::size_t count,
                       double p, double k) {
    const P weight = P::splat(p), below = P::splat(1.0 - p), scale = P::splat(1.0 / k);
    for (std::size_t i = 0; i < count; i += P::width) {
        (P::load(screen + i) * derpsalsa_decay(P::load(y + i) - P::load(z + i), weight, below, scale)).store(out + i);
    }
}

void derivative_screen(const double* d1, const double* d2, double* out, std::size_t count, double m1, double m2) {
    for (std::size_t i = 0; i < count; i += P::width) {
        (screen_factor(P::load(d1 + i), m1) * screen_factor(P::load(d2 + i), m2)).store(out + i);
    }
}

}  // namespace

SampleKernels avx2_sample_kernels() {
    return {P::width, aspls_weights, brpls_weights, psalsa_weights, derpsalsa_weights, derivative_screen};
}

}  // namespace quorvel::whittaker
