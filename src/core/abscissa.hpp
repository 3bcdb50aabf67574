// Sample positions given by the caller, mapped linearly onto [-1, 1] as NumPy's polynomial
// domains map them (offset + scale * x), so fits on x agree with the field's tools.
#pragma once

#include <cstddef>
#include <span>

#include "error.hpp"

namespace quorvel {

struct Abscissa {
    std::span<const double> x;
    double offset;
    double scale;

    double at(std::size_t i) const { return offset + scale * x[i]; }
};

// x checked against n samples (same length, finite, strictly increasing or decreasing) and its
// map onto [-1, 1]; a single position maps to 0. Errors name x as `name`.
Result<Abscissa> mapped_abscissa(std::span<const double> x, std::size_t n, const char* name = "x");

}  // namespace quorvel
