// Moving median of a spectrum by sorted blocks (Suomela, "Median filtering is equivalent to sorting",
// arXiv:1406.1717, 2014): the data are cut into blocks of one window's length w, each sorted once, so that
// every window is the tail of one block and the head of the next. Each block keeps a doubly linked list over
// its sorted order; as the window moves, one value leaves the first block's list and one joins the second's,
// both in O(1), and the median moves by at most a step or two along the two lists. Cost: O(n log w) for the
// sorts (blocks of up to 256 values are ranked by counting instead, O(n w) vectorised comparisons) and O(1)
// per output besides. Windows are shorter than 2^31 values.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace quorvel::smoothing {

// One block: its values in ascending order (ties by position), each position's rank, and the list over ranks
// 0 .. w - 1 of the values in the window, closed by the sentinel rank w.
struct SortedBlock {
    std::vector<double> values, sorted;
    std::vector<std::uint32_t> rank_of, next, prev;
    std::vector<std::uint64_t> counts;
    std::vector<std::pair<double, std::uint32_t>> order;
};

struct BlockMedianWorkspace {
    SortedBlock first, second;
};

// out[i] is the median of z[i] .. z[i + 2h] for i < out.size(); z holds out.size() + 2h values. out may be the
// front of z: the blocks copy their values a block ahead of the outputs.
void block_median(std::span<const double> z, std::size_t h, std::span<double> out, BlockMedianWorkspace& work);

}  // namespace quorvel::smoothing
