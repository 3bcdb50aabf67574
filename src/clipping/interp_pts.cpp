#include "interp_pts.hpp"

#include <algorithm>
#include <cmath>

#include "core/abscissa.hpp"
#include "core/numeric.hpp"

namespace quorvel::clipping {
namespace {

using Points = std::span<const std::pair<double, double>>;

// The second derivatives of the not-a-knot cubic spline through p (at least four points): the interior rows
// h[i-1] M[i-1] + 2 (h[i-1] + h[i]) M[i] + h[i] M[i+1] = 6 (slope[i] - slope[i-1]), with M[0] and M[L-1]
// eliminated by the end conditions M[0] = M[1] + h[0] (M[1] - M[2]) / h[1] and its mirror, solved by the
// tridiagonal sweep.
void not_a_knot(Points p, InterpPtsWorkspace& work) {
    const std::size_t m = p.size();
    const auto h = [&](std::size_t i) { return p[i + 1].first - p[i].first; };
    const auto slope = [&](std::size_t i) { return (p[i + 1].second - p[i].second) / h(i); };
    auto& diag = work.diagonal;
    auto& rhs = work.rhs;
    auto& second = work.second;
    diag.assign(m, 0.0);
    rhs.assign(m, 0.0);
    second.assign(m, 0.0);
    auto& upper = work.upper;
    auto& lower = work.lower;
    upper.assign(m, 0.0);
    lower.assign(m, 0.0);
    for (std::size_t i = 1; i + 1 < m; ++i) {
        lower[i] = h(i - 1);
        diag[i] = 2.0 * (h(i - 1) + h(i));
        upper[i] = h(i);
        rhs[i] = 6.0 * (slope(i) - slope(i - 1));
    }
    const double left = h(0) / h(1), right = h(m - 2) / h(m - 3);
    diag[1] += lower[1] * (1.0 + left);
    upper[1] -= lower[1] * left;
    diag[m - 2] += upper[m - 2] * (1.0 + right);
    lower[m - 2] -= upper[m - 2] * right;
    for (std::size_t i = 2; i + 1 < m; ++i) {
        const double factor = lower[i] / diag[i - 1];
        diag[i] -= factor * upper[i - 1];
        rhs[i] -= factor * rhs[i - 1];
    }
    second[m - 2] = rhs[m - 2] / diag[m - 2];
    for (std::size_t i = m - 2; i-- > 1;) second[i] = (rhs[i] - upper[i] * second[i + 1]) / diag[i];
    second[0] = second[1] + left * (second[1] - second[2]);
    second[m - 1] = second[m - 2] + right * (second[m - 2] - second[m - 3]);
}

double between(Points p, std::size_t k, double t, Interpolation method, std::span<const double> second) {
    const auto [x0, y0] = p[k];
    const auto [x1, y1] = p[k + 1];
    switch (method) {
        case Interpolation::Linear: return (y1 - y0) / (x1 - x0) * (t - x0) + y0;
        case Interpolation::Nearest: return t <= (x0 + x1) / 2.0 ? y0 : y1;
        case Interpolation::Previous: return t < x1 ? y0 : y1;
        case Interpolation::Next: return t > x0 ? y1 : y0;
        case Interpolation::Cubic: {
            const double h = x1 - x0, a = x1 - t, b = t - x0;
            return (second[k] * a * a * a + second[k + 1] * b * b * b) / (6.0 * h) +
                   (y0 / h - second[k] * h / 6.0) * a + (y1 / h - second[k + 1] * h / 6.0) * b;
        }
    }
    return 0.0;
}

}  // namespace

std::optional<Interpolation> interpolation_named(std::string_view text) {
    if (text == "linear") return Interpolation::Linear;
    if (text == "nearest") return Interpolation::Nearest;
    if (text == "previous") return Interpolation::Previous;
    if (text == "next") return Interpolation::Next;
    if (text == "cubic") return Interpolation::Cubic;
    return std::nullopt;
}

Result<FitReport> interp_pts_into(std::span<const double> y, std::span<const double> x,
                                  std::span<const double> points, Interpolation method, std::span<double> baseline,
                                  InterpPtsWorkspace& work) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (!x.empty()) {
        if (auto mapped = mapped_abscissa(x, n); !mapped) return mapped.error();
    }
    const auto finite = [](double v) { return std::isfinite(v); };
    if (points.size() % 2 != 0 || !std::all_of(points.begin(), points.end(), finite)) {
        return InvalidParameter{"baseline_points", "must be finite (x, y) pairs"};
    }
    auto& p = work.points;
    p.clear();
    for (std::size_t k = 0; k < points.size(); k += 2) p.emplace_back(points[k], points[k + 1]);
    std::sort(p.begin(), p.end());
    for (std::size_t k = 1; k < p.size(); ++k) {
        if (p[k].first == p[k - 1].first) return InvalidParameter{"baseline_points", "must have distinct x values"};
    }
    if (method == Interpolation::Cubic && !p.empty() && p.size() < 4) {
        return InvalidParameter{"baseline_points", "must hold at least 4 points for cubic interpolation"};
    }
    if (method == Interpolation::Cubic && !p.empty()) not_a_knot(p, work);
    const auto at = [&](std::size_t i) { return x.empty() ? static_cast<double>(i) : x[i]; };
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = at(i);
        if (p.empty() || t < p.front().first || t > p.back().first) {
            baseline[i] = 0.0;
            continue;
        }
        if (p.size() == 1) {
            baseline[i] = p.front().second;
            continue;
        }
        // The positions may run either way: find the piece [p[k], p[k + 1]] that holds t afresh when needed.
        if (t < p[k].first || t > p[k + 1].first) {
            const auto first_at_or_past =
                std::lower_bound(p.begin(), p.end(), t, [](const auto& point, double v) { return point.first < v; });
            const auto index = static_cast<std::size_t>(first_at_or_past - p.begin());
            k = std::min(index == 0 ? 0 : index - 1, p.size() - 2);
        }
        baseline[i] = between(p, k, t, method, work.second);
    }
    return single_pass;
}

}  // namespace quorvel::clipping
