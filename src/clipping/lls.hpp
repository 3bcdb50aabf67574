// The log-log-square-root operator of Morháč et al. (NIM A 401 (1997) 113), which brings data spanning decades
// into a range where clipping treats small and large peaks alike, and its inverse.
#pragma once

#include <algorithm>
#include <cmath>
#include <span>

#include "core/error.hpp"

namespace quorvel::clipping {

inline Status lls_forward(std::span<const double> y, std::span<double> out) {
    for (const double value : y) {
        if (!(value >= -1.0)) return InvalidParameter{"lls", "needs data of at least -1"};
    }
    for (std::size_t i = 0; i < y.size(); ++i) out[i] = std::log1p(std::log1p(std::sqrt(y[i] + 1.0)));
    return ok;
}

// Values below 0, the image of -1, can only come from the padding; the inverse is not monotonic there.
inline double lls_inverse(double value) {
    const double root = std::expm1(std::expm1(std::max(value, 0.0)));
    return root * root - 1.0;
}

}  // namespace quorvel::clipping
