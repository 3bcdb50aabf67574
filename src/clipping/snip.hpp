// SNIP, statistics-sensitive non-linear iterative peak clipping (Ryan et al., NIM B 34 (1988) 396; Morháč et
// al., NIM A 401 (1997) 113; Morháč & Matoušek, Appl. Spectrosc. 62 (2008) 91). Pass p lowers every sample
// to the filter of its neighbours p samples away wherever that is lower; p runs from 1 up to the largest
// half window, or down from it. Each pass reads only the previous pass's values, so the result does not
// depend on the order of the samples within a pass. Cost: O(n · max_half_window) per spectrum, times
// 2 smooth_half_window + 1 with smoothing; no allocation once the workspace has grown to the data.
//
// Edges: the data are first carried on past each end, for as many samples as the largest half window, along
// the least-squares line through that many edge samples (the whole spectrum when shorter), as the reference
// library pads by default; pass p clips every padded position at least p from the padded ends, and the
// baseline is the padded result's middle. Masked-out samples reach it already bridged by the straight lines
// between their used neighbours, as for the windows of the morphology family.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/grid.hpp"

namespace quorvel::clipping {

struct SnipParams {
    // Spectra: the largest half window to the left and to the right of a sample (asymmetric peaks; pass p
    // reaches min(p, left) and min(p, right) samples); grids: along axis 0 and axis 1. At least 1 each.
    std::array<std::uint64_t, 2> max_half_window;
    bool decreasing;
    // Spectra only. With s > 0 a pass that does not clip a sample sets it to the mean of the previous pass
    // over the 2s + 1 samples around it (fewer at the padded ends), Morháč & Matoušek's smoothing.
    std::uint64_t smooth_half_window;
    // Spectra: 2, 4, 6 or 8. Order 2k clips to the largest of the filters of orders 2 to 2k, the filter of
    // order 2j taking the samples floor(q p / j) away on either side for q = 1 .. j. Grids: 2.
    std::uint64_t filter_order;
    // Clip log(log(sqrt(y + 1) + 1) + 1) and map the baseline back (Morháč et al. 1997); data >= -1.
    bool lls;
};

// Half windows of at least 1 and at most each extent (spectra give their length twice), filter orders 2, 4, 6
// or 8 on spectra and 2 on grids.
Status check_snip(const SnipParams& params, std::array<std::uint64_t, 2> extents, bool spectrum);

// Scratch that grows to the largest data it has clipped.
struct SnipWorkspace {
    std::vector<double> current, next, sums, line;
};

Result<FitReport> snip_into(std::span<const double> y, const SnipParams& params, std::span<double> baseline,
                            SnipWorkspace& work);

// Morháč et al.'s two-dimensional clipping (NIM A 401 (1997) 113): pass p lowers a point to the filter of the
// four corners and four edge midpoints of the square p points away (p clamped per axis to its largest half
// window), each edge midpoint first raised to the mean of its two corners. The grid is padded as spectra
// are, along its rows and then along its columns. The grid is validated by the caller.
Result<FitReport> snip_into(const two_d::Grid& data, const SnipParams& params, const two_d::GridOut& output,
                            SnipWorkspace& work);

}  // namespace quorvel::clipping
