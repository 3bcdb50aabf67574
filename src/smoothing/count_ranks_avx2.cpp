// Built with -mavx2 alone (never FMA); reached only after the CPU has been checked.
#include "count_ranks.hpp"

namespace quorvel::smoothing {

void count_ranks_avx2(const double* v, std::size_t w, std::uint64_t* counts, std::uint32_t* rank_of) {
    count_ranks_here(v, w, counts, rank_of);
}

}  // namespace quorvel::smoothing
