// The data carried on past either end along the least-squares line of its h edge samples (the single
// edge value when h or the data is one sample long), and the moving average over that padding.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quorvel {

// Where an edge line's positions count from. From the start, positions reach the length and the line loses
// digits on long signals (the rolling ball keeps that arithmetic); local positions count from the line's first
// edge sample, which gives the same line with its digits kept.
enum class EdgeLine { FromStart, Local };

std::vector<double> pad_extrapolated(std::span<const double> x, std::size_t h, EdgeLine line);
// The same into out, of x.size() + 2 h values, on local positions; x is not empty.
void pad_extrapolated_into(std::span<const double> x, std::size_t h, std::span<double> out);
// The same along the lines of the `fit` edge samples.
void pad_extrapolated_into(std::span<const double> x, std::size_t h, std::span<double> out, std::size_t fit);

// The mean over 2h + 1 samples of the padded data at each sample; out may be x itself.
void moving_average_extrapolated(std::span<const double> x, std::size_t h, std::span<double> out,
                                 EdgeLine line);

}  // namespace quorvel
