#include "block_median.hpp"

#include <algorithm>
#include <bit>
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

// Sorts block `index` of z (positions past z's end repeat its last value; no window reaches them), with all of
// it in the window or, when `empty`, none.
void prepare(std::span<const double> z, std::size_t index, std::size_t w, bool empty, SortedBlock& block,
             CountRanks count) {
    block.values.resize(w);
    for (std::size_t o = 0; o < w; ++o) block.values[o] = z[std::min(index * w + o, z.size() - 1)];
    block.sorted.resize(w);
    block.rank_of.resize(w);
    rank_block(block.values.data(), w, block, count);
    for (std::size_t o = 0; o < w; ++o) block.sorted[block.rank_of[o]] = block.values[o];
    block.present.assign((w + 63) / 64, 0);
    if (empty) return;
    for (std::size_t r = 0; r < w; ++r) block.present[r / 64] |= std::uint64_t{1} << (r % 64);
}

// The lowest rank above r in the window, or w for none.
std::uint32_t next_present(const SortedBlock& block, std::uint32_t r, std::uint32_t w) {
    const std::uint32_t from = r + 1;
    std::size_t word = from / 64;
    if (word >= block.present.size()) return w;
    std::uint64_t bits = block.present[word] & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
        if (++word == block.present.size()) return w;
        bits = block.present[word];
    }
    return static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
}

// The highest rank below r in the window (r = w: the highest of all), or w for none.
std::uint32_t previous_present(const SortedBlock& block, std::uint32_t r, std::uint32_t w) {
    if (r == 0) return w;
    const std::uint32_t to = r - 1;
    std::size_t word = to / 64;
    std::uint64_t bits = block.present[word] & (~std::uint64_t{0} >> (63 - to % 64));
    while (bits == 0) {
        if (word == 0) return w;
        bits = block.present[--word];
    }
    return static_cast<std::uint32_t>(word * 64 + 63 - static_cast<std::size_t>(std::countl_zero(bits)));
}

void set_present(SortedBlock& block, std::uint32_t r, bool present) {
    const std::uint64_t bit = std::uint64_t{1} << (r % 64);
    block.present[r / 64] = present ? block.present[r / 64] | bit : block.present[r / 64] & ~bit;
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
            if (first_precedes(a, b)) a = next_present(*first, a, w);
            else b = next_present(*second, b, w);
            ++before;
        }
        while (before > h) {
            const std::uint32_t pa = previous_present(*first, a, w), pb = previous_present(*second, b, w);
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
            split.a = next_present(*first, leaving, end);
        } else if (leaving < split.a) {
            --split.before;
        }
        set_present(*first, leaving, false);
        const std::uint32_t entering = second->rank_of[offset];
        set_present(*second, entering, true);
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
