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
// move it up; both sums stay in one vectorised loop.
inline void count_ranks_here(const double* v, std::size_t w, std::uint64_t* counts, std::uint32_t* rank_of) {
    for (std::size_t j = 1; j < w; ++j) {
        const double x = v[j];
        std::uint64_t above = 0;
        for (std::size_t i = 0; i < j; ++i) {
            const std::uint64_t below = x < v[i];
            counts[i] += below;
            above += below;
        }
        counts[j] = j - above;
    }
    for (std::size_t i = 0; i < w; ++i) rank_of[i] = static_cast<std::uint32_t>(counts[i]);
}

}  // namespace

}  // namespace quorvel::smoothing
