// Moving median of a spectrum by sorted blocks (Suomela, "Median filtering is equivalent to sorting",
// arXiv:1406.1717, 2014): the data are cut into blocks of one window's length w, each sorted once, so that
// every window is the tail of one block and the head of the next. Each block keeps one bit per rank of its sorted
// order for the values in the window; as the window moves, one value leaves the first block and one joins the
// second, a bit each, and the median moves by at most a step or two along the two blocks' set bits, each step a
// scan for the nearest set bit (within a word or two on spectra, at most w / 64 words). The paper's linked lists
// serve the same steps at the cost of a chain of dependent stores per block to empty them. Cost: O(n log w) for
// the sorts (blocks of up to 256 values are ranked by counting instead, O(n w) vectorised comparisons) and the
// scans per output besides. Windows are shorter than 2^31 values.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace quorvel::smoothing {

// One block: its values in ascending order (ties by position), each position's rank, and one bit per rank
// 0 .. w - 1 for the values in the window (rank w stands for none).
struct SortedBlock {
    std::vector<double> values, sorted;
    std::vector<std::uint32_t> rank_of;
    std::vector<std::uint64_t> present;
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
