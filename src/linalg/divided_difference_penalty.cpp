#include "divided_difference_penalty.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "difference_penalty.hpp"

namespace quorvel::linalg {

bool PenaltyBands::assign(std::span<const double> t, unsigned order, double lambda) {
    using Row = std::array<double, max_difference_order + 1>;
    using Levels = std::array<Row, max_difference_order + 1>;
    const std::size_t n = t.size(), width = order + 1;
    order_ = order;
    bands_.assign(n * width, 0.0);
    // From the last row up: row r of D_d (from column r) joins rows r and r + 1 of D_{d-1}, the latter kept from
    // the step before, so each row costs `order` divisions and no row is formed twice.
    Levels later{};
    for (std::size_t r = n; r-- > 0;) {
        Levels own{};
        own[0][0] = 1.0;
        for (unsigned d = 1; d <= order && r + d < n; ++d) {
            const double scale = static_cast<double>(d) / (t[r + d] - t[r]);
            for (unsigned c = 0; c <= d; ++c) {
                const double next = c > 0 ? later[d - 1][c - 1] : 0.0, here = c < d ? own[d - 1][c] : 0.0;
                own[d][c] = scale * (next - here);
            }
        }
        if (r + order < n) {
            const Row& row = own[order];
            for (unsigned a = 0; a <= order; ++a) {
                for (unsigned b = 0; b <= a; ++b) bands_[(r + a) * width + (a - b)] += row[a] * row[b];
            }
        }
        later = own;
    }
    const bool finite = std::all_of(bands_.begin(), bands_.end(), [](double entry) { return std::isfinite(entry); });
    for (double& entry : bands_) entry = lambda * entry;
    return finite;
}

}  // namespace quorvel::linalg
