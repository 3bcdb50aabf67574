#include "basis.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/abscissa.hpp"

namespace quorvel::pspline {
namespace {

// The degree + 1 nonzero B-splines at x in [t[j], t[j + 1]) by de Boor's recurrence (de Boor, A Practical Guide to
// Splines, 1978, BSPLVB), written to `out`.
void nonzero_splines(std::span<const double> t, std::size_t j, unsigned degree, double x, double* out) {
    std::array<double, max_spline_degree + 1> left{}, right{};
    out[0] = 1.0;
    for (unsigned r = 1; r <= degree; ++r) {
        left[r] = x - t[j + 1 - r];
        right[r] = t[j + r] - x;
        double saved = 0.0;
        for (unsigned s = 0; s < r; ++s) {
            const double term = out[s] / (right[s + 1] + left[r - s]);
            out[s] = saved + right[s + 1] * term;
            saved = left[r - s] * term;
        }
        out[r] = saved;
    }
}

}  // namespace

Status check_spline(std::size_t n, std::uint64_t num_knots, std::uint64_t degree) {
    if (degree > max_spline_degree) return InvalidParameter{"spline_degree", "must be 0 to 5"};
    if (num_knots < std::max<std::uint64_t>(2, degree + 1)) {
        return InvalidParameter{"num_knots", "must be at least 2 and at least spline_degree + 1"};
    }
    if (num_knots > n) return InvalidParameter{"num_knots", "must be at most the number of samples"};
    return ok;
}

Status build_basis(std::span<const double> positions, std::uint64_t num_knots, unsigned degree, SplineBasis& basis) {
    const std::size_t n = positions.size();
    if (auto checked = check_spline(n, num_knots, degree); !checked) return checked;
    const auto [low_at, high_at] = std::minmax_element(positions.begin(), positions.end());
    const double low = *low_at, high = *high_at;
    if (!(high > low)) return InvalidParameter{"x", "must span a range of positions"};

    const std::size_t inner = num_knots;
    const double step = (high - low) / static_cast<double>(inner - 1);
    basis.degree = degree;
    basis.coefficients = inner + degree - 1;
    basis.knots.resize(inner + 2 * degree);
    for (std::size_t k = 0; k < basis.knots.size(); ++k) {
        const double offset = static_cast<double>(k) - static_cast<double>(degree);
        basis.knots[k] = low + offset * step;
    }
    basis.knots[degree + inner - 1] = high;

    const std::size_t width = basis.width(), last_interval = inner - 2;
    basis.values.resize(n * width);
    basis.first.resize(n);
    const std::span<const double> t = basis.knots;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = positions[i];
        const double guess = std::floor((x - low) / step);
        std::size_t j = guess <= 0.0 ? 0 : std::min(static_cast<std::size_t>(guess), last_interval);
        while (j > 0 && x < t[degree + j]) --j;
        while (j < last_interval && x >= t[degree + j + 1]) ++j;
        basis.first[i] = j;
        nonzero_splines(t, degree + j, degree, x, basis.values.data() + i * width);
    }
    return ok;
}

namespace {

// visit(j, plan) for every basis function j in order.
template <class Visit>
void walk_middles(std::span<const double> positions, const SplineBasis& basis, Visit visit) {
    const std::size_t n = positions.size(), m = basis.coefficients, span = basis.degree + 1;
    const bool rising = positions[n - 1] > positions[0];
    const auto at = [&](std::size_t k) { return rising ? k : n - 1 - k; };
    std::size_t k = 0;
    for (std::size_t j = 0; j < m; ++j) {
        const double middle = (basis.knots[j] + basis.knots[j + span]) / 2.0;
        if (!(middle > positions[at(0)])) {
            visit(j, MiddlePlan{at(0), at(0), 0.0, 0.0, middle, true});
            continue;
        }
        if (!(middle < positions[at(n - 1)])) {
            visit(j, MiddlePlan{at(n - 1), at(n - 1), 0.0, 0.0, middle, true});
            continue;
        }
        while (!(middle < positions[at(k + 1)])) ++k;
        visit(j, MiddlePlan{at(k), at(k + 1), positions[at(k)], positions[at(k + 1)], middle, false});
    }
}

}  // namespace

void at_basis_middles(std::span<const double> positions, std::span<const double> values, const SplineBasis& basis,
                      std::vector<double>& out) {
    out.resize(basis.coefficients);
    walk_middles(positions, basis, [&](std::size_t j, const MiddlePlan& p) {
        const double v0 = values[p.at], v1 = values[p.next];
        out[j] = p.end ? v0 : (v1 - v0) / (p.x1 - p.x0) * (p.middle - p.x0) + v0;
    });
}

void plan_middles(std::span<const double> positions, const SplineBasis& basis, std::vector<MiddlePlan>& plan) {
    plan.resize(basis.coefficients);
    walk_middles(positions, basis, [&](std::size_t j, const MiddlePlan& p) { plan[j] = p; });
}

Status build_on_axis(std::span<const double> x, std::size_t extent, const char* name, std::uint64_t num_knots,
                     std::uint64_t degree, std::vector<double>& positions, SplineBasis& basis) {
    positions.resize(extent);
    if (x.empty()) {
        // As NumPy's linspace(-1, 1, extent), the reference library's positions without x.
        const double step = 2.0 / static_cast<double>(extent - 1);
        for (std::size_t i = 0; i < extent; ++i) positions[i] = -1.0 + static_cast<double>(i) * step;
        positions[extent - 1] = 1.0;
    } else {
        const auto mapped = mapped_abscissa(x, extent, name);
        if (!mapped) return mapped.error();
        for (std::size_t i = 0; i < extent; ++i) positions[i] = mapped.value().at(i);
    }
    return build_basis(positions, num_knots, static_cast<unsigned>(degree), basis);
}

}  // namespace quorvel::pspline
