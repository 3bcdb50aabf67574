// Moving medians over odd windows whose reach past the data repeats the edge sample (SciPy's 'nearest').
//
// Spectra: sorted blocks (block_median.hpp), O(n log w) for a window of w samples; windows under 17 samples
// slide as grids' do. Grids slide a sorted (2a + 1) x (2b + 1) window along each row, exchanging one column of
// 2a + 1 values per step. Each exchange finds the places of the leaving and the entering value, by counting
// without branches in windows of up to 96 values (vectorised; on noisy data a branch is mispredicted half the
// time), by binary search in larger ones, and shifts the values between them: O(log w) comparisons and a move
// of at most w values (w / 3 on average) per exchange, O(rows · cols · a · log w) comparisons in all, linear in
// the points for a fixed window. Memory: the window, or one pair of blocks.
// The values must be finite.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "block_median.hpp"

namespace quorvel::smoothing {

struct MedianWorkspace {
    std::vector<double> window;
    BlockMedianWorkspace blocks;
};

// Spectra: out[i] is the median of z[i] .. z[i + 2h] for out.size() + 2h values of z, the data with h copies of
// each end sample already before and after it. out may be the front of z: every value is read before its place
// is written.
void moving_median_repeated(std::span<const double> z, std::size_t h, std::span<double> out,
                            MedianWorkspace& work);

// Grids: out is the median of x[clamp(r - a) .. clamp(r + a)][clamp(c - b) .. clamp(c + b)] over a row-major
// rows x cols grid; out has x's size and is not x.
void moving_median_nearest(std::span<const double> x, std::size_t rows, std::size_t cols, std::size_t a,
                           std::size_t b, std::span<double> out, MedianWorkspace& work);

}  // namespace quorvel::smoothing
