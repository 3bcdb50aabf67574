#include "rubberband.hpp"

#include <algorithm>

#include "core/abscissa.hpp"
#include "core/extrapolated.hpp"
#include "core/numeric.hpp"
#include "linalg/difference_penalty.hpp"
#include "positions.hpp"
#include "linalg/weighted_smooth.hpp"

namespace quorvel::clipping {
namespace {

// Appends the lower hull of the used samples in [first, end) to `hull`.
void lower_hull(std::span<const double> v, const Positions& t, Mask mask, std::size_t first, std::size_t end,
                std::vector<std::size_t>& hull) {
    const std::size_t start = hull.size();
    for (std::size_t i = first; i < end; ++i) {
        if (is_masked_out(mask, i)) continue;
        while (hull.size() >= start + 2) {
            const std::size_t a = hull[hull.size() - 2], b = hull.back();
            // b leaves the hull unless it lies strictly below the chord from a to i.
            if ((t(b) - t(a)) * (v[i] - v[a]) - (v[b] - v[a]) * (t(i) - t(a)) > 0.0) break;
            hull.pop_back();
        }
        hull.push_back(i);
    }
}

// The straight lines between the vertices, level beyond them.
void interpolate(std::span<const double> v, const Positions& t, std::span<const std::size_t> hull,
                 std::span<double> baseline) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < baseline.size(); ++i) {
        while (next < hull.size() && hull[next] <= i) ++next;
        if (next == 0 || next == hull.size()) {
            baseline[i] = v[hull[next == 0 ? 0 : hull.size() - 1]];
            continue;
        }
        const std::size_t a = hull[next - 1], b = hull[next];
        const double slope = (v[b] - v[a]) / (t(b) - t(a));
        baseline[i] = slope * (t(i) - t(a)) + v[a];
    }
}

}  // namespace

Result<FitReport> rubberband_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                  const RubberbandParams& params, std::span<double> baseline,
                                  RubberbandWorkspace& work) {
    const auto checked = checked_positions(y, x, mask, baseline);
    if (!checked) return checked.error();
    const Positions t = checked.value();
    const std::size_t n = y.size();
    if (params.segments == 0 || params.segments > n) {
        return InvalidParameter{"segments", "must be from 1 to the data's length"};
    }
    const bool smooth = params.lam > 0.0;
    if (smooth && (params.diff_order == 0 || params.diff_order > linalg::max_difference_order)) {
        return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
    }
    std::span<const double> v = y;
    if (params.smooth_half_window > 0) {
        work.smoothed.resize(n);
        moving_average_extrapolated(y, params.smooth_half_window, work.smoothed, EdgeLine::Local);
        v = work.smoothed;
    }
    work.hull.clear();
    for (std::size_t k = 0; k < params.segments; ++k) {
        lower_hull(v, t, mask, k * n / params.segments, (k + 1) * n / params.segments, work.hull);
    }
    if (!smooth) {
        interpolate(v, t, work.hull, baseline);
        return single_pass;
    }
    work.weights.assign(n, 0.0);
    for (const std::size_t i : work.hull) work.weights[i] = 1.0;
    const auto order = static_cast<unsigned>(params.diff_order);
    if (auto solved = linalg::weighted_smooth(v, work.weights, params.lam, order, baseline, work.smooth); !solved) {
        return solved.error();
    }
    return single_pass;
}

}  // namespace quorvel::clipping
