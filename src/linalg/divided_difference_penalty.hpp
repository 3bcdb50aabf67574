// The entries of lambda D'D for D the divided differences of order 1 to 3 on positions that need not be
// evenly spaced.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quorvel::linalg {

// Eilers' ddmat (P. H. C. Eilers, "A perfect smoother", Anal. Chem. 75 (2003) 3631): D_0 = I and
// D_d = V_d diff(D_{d-1}) with V_d = diag(d / (t[i + d] - t[i])). The factor d, which ddmat leaves out,
// makes D on unit steps the plain d-th difference, so that lambda means what it means on the index when t
// is measured in units of its mean step. Read as PenaltyRows is, entry (i, i - k); built once per fit.
class PenaltyBands {
public:
    PenaltyBands() = default;
    // t strictly increasing, order 1 to 3. False when D'D itself (before lambda) overflows.
    bool assign(std::span<const double> t, unsigned order, double lambda);

    // Zero where i < k or k > order.
    [[gnu::always_inline]] double at(std::size_t i, std::size_t k) const {
        if (k > order_) return 0.0;
        return bands_[i * (order_ + 1) + k];
    }

private:
    unsigned order_ = 0;
    std::vector<double> bands_;
};

}  // namespace quorvel::linalg
