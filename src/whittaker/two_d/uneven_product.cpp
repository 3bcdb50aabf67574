#include "uneven_product.hpp"

#include <algorithm>
#include <cstdint>

#include "uneven_axes.hpp"

namespace quorvel::two_d::whittaker {
namespace {

// out[row i] += lambda_r times the row axis's terms: whole neighbouring rows, each times one element.
void add_row_terms(const AxisSpacing& r, double lambda, std::uint64_t cols, std::uint64_t i, const double* v,
                   double* out) {
    const auto reach = static_cast<std::int64_t>(r.order);
    for (std::int64_t s = -reach; s <= reach; ++s) {
        const double c = lambda * r.at(i, s);
        if (c == 0.0) continue;
        const double* from = v + static_cast<std::int64_t>(i * cols) + s * static_cast<std::int64_t>(cols);
        for (std::uint64_t j = 0; j < cols; ++j) out[j] = out[j] + c * from[j];
    }
}

// out[row] += lambda_c times the column axis's terms; the elements past either end are 0 but the points are not
// there, so the ends run apart.
template <std::int64_t Reach>
void add_column_terms(const AxisSpacing& c, double lambda, const double* v, double* out) {
    const std::uint64_t cols = c.m, reach = Reach, width = 2 * Reach + 1;
    const double* entries = c.entries.data();
    for (std::uint64_t j = reach; j + reach < cols; ++j) {
        const double* e = entries + j * width + Reach;
        double sum = 0.0;
        for (std::int64_t s = -Reach; s <= Reach; ++s) sum = sum + e[s] * v[static_cast<std::int64_t>(j) + s];
        out[j] = out[j] + lambda * sum;
    }
    const auto edge = [&](std::uint64_t j) {
        double sum = 0.0;
        for (std::int64_t s = -Reach; s <= Reach; ++s) {
            const std::int64_t u = static_cast<std::int64_t>(j) + s;
            if (u >= 0 && static_cast<std::uint64_t>(u) < cols) sum = sum + c.at(j, s) * v[u];
        }
        out[j] = out[j] + lambda * sum;
    };
    for (std::uint64_t j = 0; j < std::min(reach, cols); ++j) edge(j);
    for (std::uint64_t j = std::max(reach, cols > reach ? cols - reach : 0); j < cols; ++j) edge(j);
}

void add_column_terms(const AxisSpacing& c, double lambda, const double* v, double* out) {
    switch (c.order) {
        case 1: return add_column_terms<1>(c, lambda, v, out);
        case 2: return add_column_terms<2>(c, lambda, v, out);
        default: return add_column_terms<3>(c, lambda, v, out);
    }
}

}  // namespace

void apply_uneven(const GridSystem& s, std::span<const double> v, std::span<double> out) {
    const UnevenGrid& axes = *s.uneven;
    for (std::uint64_t i = 0; i < s.rows; ++i) {
        const std::uint64_t base = i * s.cols;
        for (std::uint64_t j = 0; j < s.cols; ++j) out[base + j] = s.weights[base + j] * v[base + j];
        add_row_terms(axes.rows, s.lambda_r, s.cols, i, v.data(), out.data() + base);
        add_column_terms(axes.cols, s.lambda_c, v.data() + base, out.data() + base);
    }
}

}  // namespace quorvel::two_d::whittaker
