#include "difference_penalty.hpp"

#include <algorithm>
#include <array>

namespace quorvel::linalg {
namespace {

// Row r of D holds these at columns r .. r + order: the alternating binomial coefficients.
constexpr std::array<std::array<double, 4>, 4> coefficients{{
    {1.0, 0.0, 0.0, 0.0},
    {-1.0, 1.0, 0.0, 0.0},
    {1.0, -2.0, 1.0, 0.0},
    {-1.0, 3.0, -3.0, 1.0},
}};

}  // namespace

double difference_penalty(std::size_t n, unsigned order, std::size_t i, std::size_t k) {
    if (k > order || n <= order || i + k >= n) return 0.0;
    const auto& c = coefficients[order];
    const std::size_t first = i + k > order ? i + k - order : 0, last = std::min(i, n - order - 1);
    double sum = 0.0;
    for (std::size_t r = first; r <= last; ++r) sum = sum + c[i - r] * c[i + k - r];
    return sum;
}

}  // namespace quorvel::linalg

namespace quorvel::linalg {

PenaltyRows::PenaltyRows(std::size_t n, unsigned order, double lambda) : n_(n), order_(order) {
    const auto entry = [&](std::size_t i, std::size_t k) {
        return k <= i && i < n ? lambda * difference_penalty(n, order, i - k, k) : 0.0;
    };
    for (std::size_t k = 0; k <= order; ++k) {
        inner_[k] = 2 * order < n ? entry(order, k) : 0.0;
        for (std::size_t e = 0; e < order; ++e) {
            head_[e][k] = entry(e, k);
            tail_[e][k] = n + e >= order ? entry(n + e - order, k) : 0.0;
        }
    }
}

}  // namespace quorvel::linalg
