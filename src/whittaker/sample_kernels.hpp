// Elementwise passes of the single fits in packs of consecutive samples, where the CPU has registers
// wider than one: each sample gets the operations of the one-sample form, so the bits do not depend on
// the CPU. The sums that measure a change stay sequential, with their callers.
#pragma once

#include <cstddef>
#include <optional>

namespace quorvel::whittaker {

struct BrPlsPosterior;

struct SampleKernels {
    std::size_t width;  // every count given to a kernel is a multiple of it
    // out[i] = the asPLS weight of the residual y[i] - z[i] (aspls_weight).
    void (*aspls_weights)(const double* y, const double* z, double* out, std::size_t count, double coef,
                          double sigma);
    // out[i] = the BrPLS weight of the residual y[i] - z[i] (brpls_weight).
    void (*brpls_weights)(const double* y, const double* z, double* out, std::size_t count,
                          const BrPlsPosterior& posterior);
};

// AVX2's where the CPU has it; nothing where samples go one at a time.
std::optional<SampleKernels> sample_kernels();

SampleKernels avx2_sample_kernels();  // built with -mavx2; only where the CPU has AVX2

}  // namespace quorvel::whittaker
