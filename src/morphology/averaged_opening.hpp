// The step that mor and imor share (Perez-Pueyo et al., Appl. Spectrosc. 64 (2010) 595): the opening o of
// a signal, then the mean of o's dilation and erosion, capped from above; on spectra and on grids alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "extrema.hpp"
#include "morphology/two_d/morphology.hpp"

namespace quorvel::morphology {

// Flat erosion and dilation over 2h + 1 samples, edges reflected half a sample out; `both` hands each
// sample's erosion and dilation to sink(i, eroded, dilated).
struct FlatSpectrum {
    std::size_t half_window;
    std::vector<double> scratch{};

    void erode(std::span<const double> in, std::span<double> out) { moving_min_reflect(in, half_window, out); }
    void dilate(std::span<const double> in, std::span<double> out) { moving_max_reflect(in, half_window, out); }
    template <class Sink>
    void both(std::span<const double> in, Sink sink) {
        sliding_min_max(in, half_window, sink, scratch);
    }
};

// The same over (2 hr + 1) x (2 hc + 1) windows of a row-major grid.
struct FlatGrid {
    std::uint64_t rows, cols, half_rows, half_cols;
    std::vector<double> temp = std::vector<double>(rows * cols), low = temp, high = temp;

    void erode(std::span<const double> in, std::span<double> out) {
        two_d::morphology::moving_min_reflect_with_workspace(in, rows, cols, half_rows, half_cols, temp, out);
    }
    void dilate(std::span<const double> in, std::span<double> out) {
        two_d::morphology::moving_max_reflect_with_workspace(in, rows, cols, half_rows, half_cols, temp, out);
    }
    template <class Sink>
    void both(std::span<const double> in, Sink sink) {
        erode(in, low);
        dilate(in, high);
        for (std::size_t i = 0; i < in.size(); ++i) sink(i, low[i], high[i]);
    }
};

// out = min(cap, (dilation(o) + erosion(o)) / 2) with o the opening of x, through `opening`; an empty cap
// stands for o. out must not overlap x.
template <class Flat>
void averaged_opening(Flat& flat, std::span<const double> x, std::span<const double> cap, std::span<double> out,
                      std::vector<double>& opening) {
    opening.resize(x.size());
    flat.erode(x, out);
    flat.dilate(out, opening);
    const std::span<const double> limit = cap.empty() ? std::span<const double>(opening) : cap;
    flat.both(opening, [&](std::size_t i, double eroded, double dilated) {
        out[i] = std::min(limit[i], 0.5 * (dilated + eroded));
    });
}

}  // namespace quorvel::morphology
