#include "block_median.hpp"

#include <algorithm>
#include <utility>

#include "count_ranks.hpp"

namespace quorvel::smoothing {

namespace {

// Blocks up to this length are ranked by counting (vectorised, without branches on the data), longer ones
// sorted.
constexpr std::size_t counted = 256;

// Each value's place in the block's order, ties going to the earlier position.
void rank_block(const double* v, std::size_t w, SortedBlock& block, CountRanks count) {
    if (w <= counted) {
        block.counts.assign(w, 0);
        count(v, w, block.counts.data(), block.rank_of.data());
        return;
    }
    block.order.resize(w);
    for (std::size_t o = 0; o < w; ++o) block.order[o] = {v[o], static_cast<std::uint32_t>(o)};
    std::sort(block.order.begin(), block.order.end());
    for (std::size_t r = 0; r < w; ++r) block.rank_of[block.order[r].second] = static_cast<std::uint32_t>(r);
}

// Sorts block `index` of z (positions past z's end repeat its last value; no window reaches them) and links
// all of it, or none of it when `empty`. Emptying unlinks the positions from the last to the first, so that
// relinking them from the first to the last undoes each unlinking in reverse order and restores the list.
void prepare(std::span<const double> z, std::size_t index, std::size_t w, bool empty, SortedBlock& block,
             CountRanks count) {
    block.values.resize(w);
    for (std::size_t o = 0; o < w; ++o) block.values[o] = z[std::min(index * w + o, z.size() - 1)];
    block.sorted.resize(w);
    block.rank_of.resize(w);
    rank_block(block.values.data(), w, block, count);
    for (std::size_t o = 0; o < w; ++o) block.sorted[block.rank_of[o]] = block.values[o];
    block.next.resize(w + 1);
    block.prev.resize(w + 1);
    for (std::size_t r = 0; r <= w; ++r) {
        block.next[r] = static_cast<std::uint32_t>(r == w ? 0 : r + 1);
        block.prev[r] = static_cast<std::uint32_t>(r == 0 ? w : r - 1);
    }
    if (!empty) return;
    for (std::size_t o = w; o-- > 0;) {
        const std::uint32_t r = block.rank_of[o];
        block.next[block.prev[r]] = block.next[r];
        block.prev[block.next[r]] = block.prev[r];
    }
}

// The window's split between the two blocks: `a` and `b` are the first ranks of each block's list at or after
// the median (w: none), `before` how many of the window's values precede them; every value before either
// precedes every value at or after both. Keys order values, ties going to the first block.
struct Split {
    const SortedBlock* first;
    const SortedBlock* second;
    std::uint32_t w, a, b;
    std::size_t before;

    // Whether rank ra of the first block comes before rank rb of the second (w standing for past the end).
    bool first_precedes(std::uint32_t ra, std::uint32_t rb) const {
        if (ra == w) return false;
        return rb == w || first->sorted[ra] <= second->sorted[rb];
    }

    void rebalance(std::size_t h) {
        while (before < h) {
            if (first_precedes(a, b)) a = first->next[a];
            else b = second->next[b];
            ++before;
        }
        while (before > h) {
            const std::uint32_t pa = first->prev[a], pb = second->prev[b];
            if (pa == w || (pb != w && first_precedes(pa, pb))) b = pb;
            else a = pa;
            --before;
        }
    }

    double median() const { return first_precedes(a, b) ? first->sorted[a] : second->sorted[b]; }
};

}  // namespace

void block_median(std::span<const double> z, std::size_t h, std::span<double> out, BlockMedianWorkspace& work) {
    const std::size_t w = 2 * h + 1;
    SortedBlock* first = &work.first;
    SortedBlock* second = &work.second;
    const CountRanks count = count_ranks();
    prepare(z, 0, w, false, *first, count);
    prepare(z, 1, w, true, *second, count);
    const auto end = static_cast<std::uint32_t>(w);
    Split split{first, second, end, 0, end, 0};
    split.rebalance(h);
    out[0] = split.median();
    std::size_t offset = 0, block = 0;  // where the value leaving for out[i] sits in the first block
    for (std::size_t i = 1; i < out.size(); ++i, ++offset) {
        const std::uint32_t leaving = first->rank_of[offset];
        if (leaving == split.a) {
            split.a = first->next[leaving];
        } else if (leaving < split.a) {
            --split.before;
        }
        first->next[first->prev[leaving]] = first->next[leaving];
        first->prev[first->next[leaving]] = first->prev[leaving];
        const std::uint32_t entering = second->rank_of[offset];
        second->next[second->prev[entering]] = entering;
        second->prev[second->next[entering]] = entering;
        if (entering < split.b) {
            if (split.a == end || second->sorted[entering] < first->sorted[split.a]) {
                ++split.before;
            } else {
                split.b = entering;
            }
        }
        if (offset == w - 1) {
            std::swap(first, second);
            prepare(z, ++block + 1, w, true, *second, count);
            offset = static_cast<std::size_t>(-1);
            split = Split{first, second, end, split.b, end, split.before};
        }
        split.rebalance(h);
        out[i] = split.median();
    }
}

}  // namespace quorvel::smoothing
