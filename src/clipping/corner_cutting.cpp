#include "corner_cutting.hpp"

#include <algorithm>
#include <cmath>

#include "positions.hpp"

namespace quorvel::clipping {
namespace {

// One iteration: keeps the ends and every sample on or below the line between its neighbours; returns how
// many it removed.
std::size_t cut_corners(std::span<const double> y, const Positions& t, CornerCuttingWorkspace& work) {
    const auto& kept = work.kept;
    auto& next = work.next;
    next.clear();
    next.push_back(kept.front());
    for (std::size_t i = 1; i + 1 < kept.size(); ++i) {
        const std::size_t a = kept[i - 1], b = kept[i], c = kept[i + 1];
        if ((t(b) - t(a)) * (y[c] - y[a]) - (y[b] - y[a]) * (t(c) - t(a)) >= 0.0) next.push_back(b);
    }
    if (kept.size() > 1) next.push_back(kept.back());
    const std::size_t removed = kept.size() - next.size();
    work.kept.swap(next);
    return removed;
}

struct Point {
    double t, y;
};

// The quadratic Bezier piece from `from` to `to` bent towards `control` (from.t < control.t < to.t), at every
// sample whose position lies in [from.t, to.t], from `first` on; returns the first sample past it.
std::size_t piece(Point from, Point control, Point to, const Positions& t, std::size_t first,
                  std::span<double> baseline) {
    const double lead = control.t - from.t, bend = from.t - 2.0 * control.t + to.t;
    std::size_t i = first;
    for (; i < baseline.size() && t(i) <= to.t; ++i) {
        // The parameter u in [0, 1] whose position is t(i), the root of bend u² + 2 lead u - (t(i) - from.t)
        // that stays accurate when bend is small.
        const double offset = std::max(0.0, t(i) - from.t);
        const double u = std::min(1.0, offset / (lead + std::sqrt(std::max(0.0, lead * lead + bend * offset))));
        const double v = 1.0 - u;
        baseline[i] = v * v * from.y + 2.0 * u * v * control.y + u * u * to.y;
    }
    return i;
}

void bezier(std::span<const double> y, const Positions& t, std::span<const std::size_t> kept,
            std::span<double> baseline) {
    const auto at = [&](std::size_t k) { return Point{t(kept[k]), y[kept[k]]}; };
    const auto middle = [](Point a, Point b) { return Point{(a.t + b.t) / 2.0, (a.y + b.y) / 2.0}; };
    std::size_t i = 0;
    for (; i < baseline.size() && t(i) < at(0).t; ++i) baseline[i] = at(0).y;
    const std::size_t m = kept.size();
    if (m == 1) {
        for (; i < baseline.size(); ++i) baseline[i] = at(0).y;
        return;
    }
    if (m == 2) {
        // A straight line: the piece with its control point halfway.
        i = piece(at(0), middle(at(0), at(1)), at(1), t, i, baseline);
    }
    for (std::size_t k = 1; k + 1 < m; ++k) {
        const Point from = k == 1 ? at(0) : middle(at(k - 1), at(k));
        const Point to = k + 2 == m ? at(m - 1) : middle(at(k), at(k + 1));
        i = piece(from, at(k), to, t, i, baseline);
    }
    for (; i < baseline.size(); ++i) baseline[i] = at(m - 1).y;
}

}  // namespace

Result<FitReport> corner_cutting_into(std::span<const double> y, std::span<const double> x, Mask mask,
                                      std::uint64_t max_iter, std::span<double> baseline,
                                      CornerCuttingWorkspace& work, std::vector<double>* history) {
    const auto checked = checked_positions(y, x, mask, baseline);
    if (!checked) return checked.error();
    if (max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    const Positions t = checked.value();
    const std::size_t n = y.size();
    work.kept.clear();
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_masked_out(mask, i)) work.kept.push_back(i);
    }
    if (history) history->clear();
    FitReport report{0, 0.0, false};
    while (!report.converged && report.iterations < max_iter) {
        const std::size_t removed = cut_corners(y, t, work);
        ++report.iterations;
        report.last_change = static_cast<double>(removed);
        report.converged = removed == 0;
        if (history) history->push_back(report.last_change);
    }
    bezier(y, t, work.kept, baseline);
    return report;
}

}  // namespace quorvel::clipping
