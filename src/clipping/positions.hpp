// Sample positions that increase with the index: x, or -x where x decreases (a reflection keeps a lower hull
// lower), or the indices when x is empty.
#pragma once

#include <cstddef>
#include <span>

#include "core/abscissa.hpp"
#include "core/error.hpp"
#include "core/mask.hpp"
#include "core/numeric.hpp"

namespace quorvel::clipping {

struct Positions {
    std::span<const double> x;
    double sign = 1.0;

    double operator()(std::size_t i) const { return x.empty() ? static_cast<double>(i) : sign * x[i]; }
};

// The positions of x (already checked for length and monotony), or of the indices for an empty x.
inline Positions positions_of(std::span<const double> x) {
    return {x, x.size() > 1 && x[1] < x[0] ? -1.0 : 1.0};
}

// The checks of the methods that keep some used samples, in the library's order, and the positions of x.
inline Result<Positions> checked_positions(std::span<const double> y, std::span<const double> x, Mask mask,
                                           std::span<const double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (!mask.empty() && mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (used_count(n, mask) == 0) return InvalidParameter{"mask", "must keep at least one sample"};
    if (!x.empty()) {
        if (auto mapped = mapped_abscissa(x, n); !mapped) return mapped.error();
    }
    return positions_of(x);
}

}  // namespace quorvel::clipping
