// Row-major grids: element (r, c) at r * cols + c.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "error.hpp"

namespace quorvel::two_d {

struct Grid {
    std::span<const double> data;
    std::uint64_t rows;
    std::uint64_t cols;
};

struct GridOut {
    std::span<double> data;
    std::uint64_t rows;
    std::uint64_t cols;
};

// rows * cols, or nullopt when the product does not fit in 64 bits.
inline std::optional<std::uint64_t> checked_size(std::uint64_t rows, std::uint64_t cols) {
    std::uint64_t size = 0;
    if (__builtin_mul_overflow(rows, cols, &size)) return std::nullopt;
    return size;
}

// The shape checks every grid operation starts with.
inline Result<std::uint64_t> validate_shape(std::uint64_t rows, std::uint64_t cols) {
    if (rows == 0) return InvalidParameter{"rows", "must be greater than zero"};
    if (cols == 0) return InvalidParameter{"cols", "must be greater than zero"};
    const auto size = checked_size(rows, cols);
    if (!size) return InvalidParameter{"shape", "rows * cols overflows usize"};
    return *size;
}

inline bool same_shape(const Grid& data, const GridOut& output) {
    return data.rows == output.rows && data.cols == output.cols;
}

// The output-shape mismatch, reported as the two element counts.
inline LengthMismatch output_mismatch(const Grid& data, const GridOut& output) {
    return LengthMismatch{"output", data.rows * data.cols, output.rows * output.cols};
}

}  // namespace quorvel::two_d
