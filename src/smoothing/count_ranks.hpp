// The ranks of a short block of values by counting, each pair compared once, ties going to the earlier position;
// whole-number counts, so every instruction set gives the same ranks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel::smoothing {

using CountRanks = void (*)(const double* v, std::size_t w, std::uint64_t* counts, std::uint32_t* rank_of);

// AVX2's where the CPU has it.
CountRanks count_ranks();
void count_ranks_avx2(const double* v, std::size_t w, std::uint64_t* counts,
                      std::uint32_t* rank_of);  // built with -mavx2; only where the CPU has AVX2

namespace {  // each instruction set's file compiles its own copy

// counts holds w zeros. A value below an earlier one moves that one up, and the earlier ones at or below it
// move it up; both sums stay in one vectorised loop, which takes four values against the earlier ones at once
// so that each earlier count is loaded and stored once per four.
inline void count_ranks_here(const double* v, std::size_t w, std::uint64_t* counts, std::uint32_t* rank_of) {
    std::size_t j = 1;
    for (; j + 4 <= w; j += 4) {
        const double x0 = v[j], x1 = v[j + 1], x2 = v[j + 2], x3 = v[j + 3];
        std::uint64_t a0 = 0, a1 = 0, a2 = 0, a3 = 0;
        for (std::size_t i = 0; i < j; ++i) {
            const std::uint64_t b0 = x0 < v[i], b1 = x1 < v[i], b2 = x2 < v[i], b3 = x3 < v[i];
            counts[i] += b0 + b1 + b2 + b3;
            a0 += b0;
            a1 += b1;
            a2 += b2;
            a3 += b3;
        }
        std::uint64_t above[4] = {a0, a1, a2, a3};
        for (std::size_t k = 1; k < 4; ++k) {
            for (std::size_t l = 0; l < k; ++l) {
                const std::uint64_t below = v[j + k] < v[j + l];
                counts[j + l] += below;
                above[k] += below;
            }
        }
        for (std::size_t k = 0; k < 4; ++k) counts[j + k] += j + k - above[k];
    }
    for (; j < w; ++j) {
        const double x = v[j];
        std::uint64_t above = 0;
        for (std::size_t i = 0; i < j; ++i) {
            const std::uint64_t below = x < v[i];
            counts[i] += below;
            above += below;
        }
        counts[j] += j - above;
    }
    for (std::size_t i = 0; i < w; ++i) rank_of[i] = static_cast<std::uint32_t>(counts[i]);
}

}  // namespace

}  // namespace quorvel::smoothing
