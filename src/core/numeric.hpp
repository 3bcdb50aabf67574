// Thresholds and scans shared by every algorithm.
#pragma once

#include <bit>
#include <cmath>
#include <limits>
#include <cstdint>
#include <optional>
#include <span>

namespace quorvel {

// 2^-52: the library's absolute "zero", never scaled by the data.
inline constexpr double epsilon = 2.220446049250313e-16;

// Tested on the bits so that the answer cannot depend on compiler flags.
inline bool is_non_finite(double value) noexcept {
    return (std::bit_cast<std::uint64_t>(value) & 0x7FFF'FFFF'FFFF'FFFFull) >=
           0x7FF0'0000'0000'0000ull;
}

inline std::optional<std::uint64_t> first_non_finite(std::span<const double> values) noexcept {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (is_non_finite(values[i])) return i;
    }
    return std::nullopt;
}

// a where `choose` holds, b elsewhere, chosen on the bits: a branch on the sign of a residual
// mispredicts half the time on noise.
inline double pick(bool choose, double a, double b) noexcept {
    const std::uint64_t all = 0 - static_cast<std::uint64_t>(choose);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & all) | (std::bit_cast<std::uint64_t>(b) & ~all));
}

inline bool is_finite_positive(double value) noexcept { return !is_non_finite(value) && value > 0.0; }

// Position i of n evenly spaced points on [-1, 1], computed exactly as (i + i) / (n - 1) - 1;
// a single point sits at 0.
inline double scaled_coordinate(std::size_t i, std::size_t n) noexcept {
    if (n == 1) return 0.0;
    const double fi = static_cast<double>(i);
    return (fi + fi) / static_cast<double>(n - 1) - 1.0;
}

// ‖new - old‖ / ‖old‖ from their squares. A zero `old` gives 0 when nothing changed and infinity otherwise,
// where a floor such as 2^-52 under ‖old‖ would make the answer depend on the data's units.
inline double relative_distance(double distance2, double norm2) {
    if (norm2 > 0.0) return std::sqrt(distance2) / std::sqrt(norm2);
    return distance2 > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
}

// The relative Euclidean distance of `now` from `old` (of one length).
inline double relative_change(std::span<const double> old, std::span<const double> now) {
    double distance2 = 0.0, norm2 = 0.0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        distance2 += (now[i] - old[i]) * (now[i] - old[i]);
        norm2 += old[i] * old[i];
    }
    return relative_distance(distance2, norm2);
}

}  // namespace quorvel
