// The entries of D'D, D the difference matrix of order 0 to 3 on n evenly spaced samples.
#pragma once

#include <array>
#include <cstddef>

namespace quorvel::linalg {

inline constexpr unsigned max_difference_order = 3;

// Entry (i, i + k) of D'D for 0 <= k <= order; D has n - order rows (none when n <= order).
double difference_penalty(std::size_t n, unsigned order, std::size_t i, std::size_t k);

// lambda D'D row by row, as the band solvers read it: entry (i, i - k). Rows order .. n - 1 - order are
// all alike; the few at either end are kept apart.
class PenaltyRows {
public:
    PenaltyRows(std::size_t n, unsigned order, double lambda);

    // Zero where i < k or k > order.
    [[gnu::always_inline]] double at(std::size_t i, std::size_t k) const {
        if (k > order_) return 0.0;
        if (i < order_) return head_[i][k];
        if (i + order_ >= n_) return tail_[i + order_ - n_][k];
        return inner_[k];
    }

private:
    using Row = std::array<double, max_difference_order + 1>;
    std::size_t n_;
    unsigned order_;
    Row inner_{};
    std::array<Row, max_difference_order> head_{}, tail_{};
};

}  // namespace quorvel::linalg
