#include "divided_difference_penalty.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "difference_penalty.hpp"

namespace quorvel::linalg {
namespace {

using Row = std::array<double, max_difference_order + 1>;

// Row r of D, at columns r .. r + order: ddmat's recursion on the rows r .. r + order of each D_d it needs.
Row difference_row(std::span<const double> t, std::size_t r, unsigned order) {
    std::array<Row, max_difference_order + 1> rows{};  // rows[s]: row r + s of D_d, from column r + s
    for (Row& row : rows) row[0] = 1.0;
    for (unsigned d = 1; d <= order; ++d) {
        // rows[s + 1] still holds D_{d-1} when rows[s] is overwritten.
        for (unsigned s = 0; s + d <= order; ++s) {
            const double scale = static_cast<double>(d) / (t[r + s + d] - t[r + s]);
            Row next{};
            for (unsigned j = 0; j <= d; ++j) {
                const double later = j > 0 ? rows[s + 1][j - 1] : 0.0, own = j < d ? rows[s][j] : 0.0;
                next[j] = scale * (later - own);
            }
            rows[s] = next;
        }
    }
    return rows[0];
}

}  // namespace

bool PenaltyBands::assign(std::span<const double> t, unsigned order, double lambda) {
    const std::size_t n = t.size(), width = order + 1;
    order_ = order;
    bands_.assign(n * width, 0.0);
    for (std::size_t r = 0; r + order < n; ++r) {
        const Row row = difference_row(t, r, order);
        for (unsigned a = 0; a <= order; ++a) {
            for (unsigned b = 0; b <= a; ++b) bands_[(r + a) * width + (a - b)] += row[a] * row[b];
        }
    }
    const bool finite = std::all_of(bands_.begin(), bands_.end(), [](double entry) { return std::isfinite(entry); });
    for (double& entry : bands_) entry = lambda * entry;
    return finite;
}

}  // namespace quorvel::linalg
