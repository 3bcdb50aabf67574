// The step that mor and imor share (Perez-Pueyo et al., Appl. Spectrosc. 64 (2010) 595): the opening o of
// a signal, then the mean of o's dilation and erosion, capped from above; on spectra and on grids alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "extrema.hpp"
#include "morphology/two_d/morphology.hpp"

namespace quorvel::morphology {

// Flat erosion and dilation over 2h + 1 samples, edges reflected half a sample out.
struct FlatSpectrum {
    std::size_t half_window;

    void erode(std::span<const double> in, std::span<double> out) { moving_min_reflect(in, half_window, out); }
    void dilate(std::span<const double> in, std::span<double> out) { moving_max_reflect(in, half_window, out); }
};

// The same over (2 hr + 1) x (2 hc + 1) windows of a row-major grid.
struct FlatGrid {
    std::uint64_t rows, cols, half_rows, half_cols;
    std::vector<double> temp = std::vector<double>(rows * cols);

    void erode(std::span<const double> in, std::span<double> out) {
        two_d::morphology::moving_min_reflect_with_workspace(in, rows, cols, half_rows, half_cols, temp, out);
    }
    void dilate(std::span<const double> in, std::span<double> out) {
        two_d::morphology::moving_max_reflect_with_workspace(in, rows, cols, half_rows, half_cols, temp, out);
    }
};

struct OpeningWork {
    std::vector<double> opening, eroded;
};

// out = min(cap, (dilation(o) + erosion(o)) / 2) with o the opening of x; an empty cap stands for o.
template <class Flat>
void averaged_opening(Flat& flat, std::span<const double> x, std::span<const double> cap, std::span<double> out,
                      OpeningWork& work) {
    work.opening.resize(x.size());
    work.eroded.resize(x.size());
    flat.erode(x, work.eroded);
    flat.dilate(work.eroded, work.opening);
    flat.erode(work.opening, work.eroded);
    flat.dilate(work.opening, out);
    const std::span<const double> limit = cap.empty() ? std::span<const double>(work.opening) : cap;
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = std::min(limit[i], 0.5 * (out[i] + work.eroded[i]));
}

// ‖new - old‖ / ‖old‖ from their squares. A zero `old` gives 0 when nothing changed and infinity otherwise,
// where a floor such as 2^-52 under ‖old‖ would make the answer depend on the data's units.
inline double relative_distance(double distance2, double norm2) {
    if (norm2 > 0.0) return std::sqrt(distance2) / std::sqrt(norm2);
    return distance2 > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace quorvel::morphology
