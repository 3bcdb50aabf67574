#include "any_order_product.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

#include "axis_penalty.hpp"

namespace quorvel::two_d::whittaker {
namespace {

constexpr std::size_t widest = 2 * linalg::max_difference_order + 1;

// One axis's share of A: lambda D'D plus the folded first differences.
struct AxisTerms {
    AxisPenaltyOf penalty, first;
    double lambda, lambda_first;

    double at(std::uint64_t t, std::int64_t s) const {
        return lambda * penalty.at(t, s) + lambda_first * first.at(t, s);
    }
    std::int64_t reach() const { return std::max<std::int64_t>(penalty.order, lambda_first != 0.0 ? 1 : 0); }
};

AxisTerms axis_terms(std::uint64_t m, unsigned order, double lambda, double lambda_first) {
    return {{m, order}, {m, 1}, lambda, lambda_first};
}

// out[row i] += the row axis's terms: whole neighbouring rows, each times one coefficient.
void add_row_terms(const AxisTerms& r, std::uint64_t cols, std::uint64_t i, const double* v, double* out) {
    const std::int64_t reach = r.reach();
    for (std::int64_t s = -reach; s <= reach; ++s) {
        const double c = r.at(i, s);
        if (c == 0.0) continue;
        const double* from = v + static_cast<std::int64_t>(i * cols) + s * static_cast<std::int64_t>(cols);
        for (std::uint64_t j = 0; j < cols; ++j) out[j] = out[j] + c * from[j];
    }
}

// out[row] += the column axis's terms; Reach is the axis's widest offset, whose coefficients are fixed from Reach
// points past either end.
template <std::int64_t Reach>
void add_column_terms(const AxisTerms& c, const double* v, double* out) {
    const std::uint64_t cols = c.penalty.m, reach = Reach;
    std::array<double, widest> inner{};
    for (std::int64_t s = -Reach; s <= Reach; ++s) inner[static_cast<std::size_t>(s + Reach)] = c.at(reach, s);
    for (std::uint64_t j = reach; j + reach < cols; ++j) {
        double sum = 0.0;
        for (std::int64_t s = -Reach; s <= Reach; ++s) {
            sum = sum + inner[static_cast<std::size_t>(s + Reach)] * v[j + s];
        }
        out[j] = out[j] + sum;
    }
    const auto edge = [&](std::uint64_t j) {
        double sum = 0.0;
        for (std::int64_t s = -Reach; s <= Reach; ++s) {
            const std::int64_t u = static_cast<std::int64_t>(j) + s;
            if (u >= 0 && static_cast<std::uint64_t>(u) < cols) sum = sum + c.at(j, s) * v[u];
        }
        out[j] = out[j] + sum;
    };
    for (std::uint64_t j = 0; j < std::min(reach, cols); ++j) edge(j);
    for (std::uint64_t j = std::max(reach, cols > reach ? cols - reach : 0); j < cols; ++j) edge(j);
}

void add_column_terms(const AxisTerms& c, const double* v, double* out) {
    switch (c.reach()) {
        case 1: return add_column_terms<1>(c, v, out);
        case 2: return add_column_terms<2>(c, v, out);
        default: return add_column_terms<3>(c, v, out);
    }
}

}  // namespace

void apply_any_order(const GridSystem& s, std::span<const double> v, std::span<double> out) {
    const bool folded = folds_first_differences(s.first);
    const AxisTerms r = axis_terms(s.rows, s.order_r, s.lambda_r, folded ? s.first.lambda_r : 0.0);
    const AxisTerms c = axis_terms(s.cols, s.order_c, s.lambda_c, folded ? s.first.lambda_c : 0.0);
    for (std::uint64_t i = 0; i < s.rows; ++i) {
        const std::uint64_t base = i * s.cols;
        for (std::uint64_t j = 0; j < s.cols; ++j) out[base + j] = s.weights[base + j] * v[base + j];
        add_row_terms(r, s.cols, i, v.data(), out.data() + base);
        add_column_terms(c, v.data() + base, out.data() + base);
    }
}

}  // namespace quorvel::two_d::whittaker
