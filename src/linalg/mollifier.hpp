// The mollifier (used by amormol and mormol, Chen et al., Appl. Spectrosc. 73 (2019) 284, and by derpsalsa's
// smoothing) and its sums: out[i] = Σ_k kernel[k] mirrored[i + k] for a symmetric kernel of 2 half + 1
// taps whose end taps are zero. The two samples that share a tap are added before their product and each
// output sums its taps in order, so the bits do not depend on the instruction set.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "fft.hpp"

namespace quorvel::linalg {

using MollifySums = void (*)(const double* mirrored, const double* kernel, std::size_t half, double* out,
                             std::size_t count);

// AVX2's where the CPU has it.
MollifySums mollify_sums();

// exp(-1 / (1 - x²)) at x = j / h for j = -h ... h (zero at both ends), summing to one.
std::vector<double> mollifier(std::size_t h);

// The mollifier of half width h over x mirrored about its end samples (d c b | a b c d | c b a), into out, for
// inputs of one length: direct sums for short kernels, a transform for long ones, whose cost does not grow with
// the kernel.
class Mollifier {
public:
    Mollifier(std::size_t h, std::size_t length);
    void operator()(std::span<const double> x, std::span<double> out);

private:
    std::vector<double> kernel_, mirrored_;
    MollifySums sums_;
    std::optional<FftConvolver> fft_;
};

void mollify_sums_avx2(const double* mirrored, const double* kernel, std::size_t half, double* out,
                       std::size_t count);  // built with -mavx2; only where the CPU has AVX2

namespace {  // each instruction set's file compiles its own copy

// Packs of doubles as wide as the instruction set's registers; the same operations lane by lane.
template <std::size_t width>
using Pack [[gnu::vector_size(width * sizeof(double))]] = double;

template <class P>
P load(const double* from) {
    P pack;
    std::memcpy(&pack, from, sizeof pack);
    return pack;
}

// `packs` packs of `width` outputs at once, their sums in registers across the taps.
template <std::size_t width, std::size_t packs>
void mollify_strip(const double* mirrored, const double* kernel, std::size_t half, double* out) {
    using P = Pack<width>;
    P acc[packs] = {};
    for (std::size_t k = 1; k < half; ++k) {
        const P weight = P{} + kernel[k];
        const double *low = mirrored + k, *high = mirrored + 2 * half - k;
#pragma GCC unroll 8
        for (std::size_t c = 0; c < packs; ++c) {
            acc[c] = acc[c] + (load<P>(low + c * width) + load<P>(high + c * width)) * weight;
        }
    }
    const P centre = P{} + kernel[half];
    for (std::size_t c = 0; c < packs; ++c) {
        const P sum = acc[c] + load<P>(mirrored + half + c * width) * centre;
        std::memcpy(out + c * width, &sum, sizeof sum);
    }
}

template <std::size_t width, std::size_t packs>
void mollify_in_strips(const double* mirrored, const double* kernel, std::size_t half, double* out,
                       std::size_t count) {
    std::size_t i = 0;
    for (; i + width * packs <= count; i += width * packs) {
        mollify_strip<width, packs>(mirrored + i, kernel, half, out + i);
    }
    for (; i < count; ++i) mollify_strip<1, 1>(mirrored + i, kernel, half, out + i);
}

}  // namespace

}  // namespace quorvel::linalg
