// The half window a flat opening settles at, for the morphological methods' half_window=None: openings
// of growing windows until max_hits successive ones each change the last by less than window_tol (as a
// relative Euclidean distance); the first of those windows is the estimate (Perez-Pueyo et al., Appl.
// Spectrosc. 64 (2010) 595, as pybaselines' optimize_window reads it). When no run of such windows
// comes before max_half_window, the last window tried is the estimate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace quorvel::morphology {

struct WindowSearch {
    std::size_t min_half_window = 1;
    std::size_t max_half_window = 0;  // 0: (length - 1) / 2; on grids (columns - 1) / 2, as pybaselines
    std::size_t max_hits = 3;
    double window_tol = 1e-6;
};

// In time linear in y's length, whatever the window: every opening is read off one component tree of y.
// y must be finite; an empty y gives min_half_window.
std::size_t estimate_half_window(std::span<const double> y, WindowSearch search = {});

// The same rule over square windows of a row-major grid; the pair repeats the one estimate, as
// pybaselines gives it. Each window tried costs one opening.
std::pair<std::size_t, std::size_t> estimate_half_window(std::span<const double> data, std::uint64_t rows,
                                                         std::uint64_t cols, WindowSearch search = {});

// Per axis, the median of the estimates of every line along it (columns for axis 0, rows for axis 1): linear
// in the points, and a window of the features' own width where the square search runs to its largest.
std::pair<std::size_t, std::size_t> estimate_half_window_by_lines(std::span<const double> data, std::uint64_t rows,
                                                                  std::uint64_t cols);

}  // namespace quorvel::morphology
