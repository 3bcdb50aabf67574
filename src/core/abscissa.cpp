#include "abscissa.hpp"

#include "numeric.hpp"

namespace quorvel {

Result<Abscissa> mapped_abscissa(std::span<const double> x, std::size_t n, const char* name) {
    if (x.size() != n) return LengthMismatch{name, n, x.size()};
    for (const double value : x) {
        if (is_non_finite(value)) return InvalidParameter{name, "must be finite"};
    }
    if (n < 2) return Abscissa{x, 0.0, 0.0};
    const bool increasing = x[1] > x[0];
    for (std::size_t i = 1; i < n; ++i) {
        if (increasing ? !(x[i] > x[i - 1]) : !(x[i] < x[i - 1])) {
            return InvalidParameter{name, "must be strictly increasing or decreasing"};
        }
    }
    const double low = increasing ? x[0] : x[n - 1];
    const double high = increasing ? x[n - 1] : x[0];
    const double span = high - low;
    const Abscissa mapped{x, (-high - low) / span, 2.0 / span};
    if (is_non_finite(mapped.offset) || is_non_finite(mapped.scale)) {
        return InvalidParameter{name, "must span a range whose map onto [-1, 1] is finite"};
    }
    return mapped;
}

}  // namespace quorvel
