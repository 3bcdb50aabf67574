// Sums of a symmetric kernel of 2 half + 1 taps over a sequence e: out[i] = Σ_k kernel[k] e[i + k], the two
// samples that share a tap added before their product. Each output sums its taps in one fixed order and packs
// only put outputs side by side, so the bits do not depend on the instruction set.
#pragma once

#include <cstddef>
#include <cstring>

namespace quorvel::linalg {

enum class TapOrder {
    centre_out,  // the centre's product, then each pair from the inside out
    ends_in,     // the pairs of taps 1 .. half - 1 from the outside in, then the centre; the end taps are zero
};

using SymmetricSums = void (*)(const double* e, const double* kernel, std::size_t half, double* out,
                               std::size_t count);

// AVX2's where the CPU has it.
template <TapOrder order>
SymmetricSums symmetric_sums();

// Built with -mavx2; only where the CPU has AVX2.
void centre_out_sums_avx2(const double* e, const double* kernel, std::size_t half, double* out, std::size_t count);
void ends_in_sums_avx2(const double* e, const double* kernel, std::size_t half, double* out, std::size_t count);

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
template <TapOrder order, std::size_t width, std::size_t packs>
void symmetric_strip(const double* e, const double* kernel, std::size_t half, double* out) {
    using P = Pack<width>;
    const P centre = P{} + kernel[half];
    P acc[packs] = {};
    const auto add_pair = [&](std::size_t k) {
        const P weight = P{} + kernel[k];
        const double *low = e + k, *high = e + 2 * half - k;
#pragma GCC unroll 8
        for (std::size_t c = 0; c < packs; ++c) {
            acc[c] = acc[c] + (load<P>(low + c * width) + load<P>(high + c * width)) * weight;
        }
    };
    if constexpr (order == TapOrder::centre_out) {
        for (std::size_t c = 0; c < packs; ++c) acc[c] = load<P>(e + half + c * width) * centre;
        for (std::size_t k = half; k-- > 0;) add_pair(k);
    } else {
        for (std::size_t k = 1; k < half; ++k) add_pair(k);
        for (std::size_t c = 0; c < packs; ++c) acc[c] = acc[c] + load<P>(e + half + c * width) * centre;
    }
    std::memcpy(out, acc, sizeof acc);
}

template <TapOrder order, std::size_t width, std::size_t packs>
void symmetric_sums_in_strips(const double* e, const double* kernel, std::size_t half, double* out,
                              std::size_t count) {
    std::size_t i = 0;
    for (; i + width * packs <= count; i += width * packs) {
        symmetric_strip<order, width, packs>(e + i, kernel, half, out + i);
    }
    for (; i < count; ++i) symmetric_strip<order, 1, 1>(e + i, kernel, half, out + i);
}

}  // namespace

}  // namespace quorvel::linalg
