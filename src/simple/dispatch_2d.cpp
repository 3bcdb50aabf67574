#include "correction.hpp"
#include "dispatch.hpp"
#include "../numeric.hpp"

namespace quorvel::simple {

Status validate_grid(std::span<const double> data, std::uint64_t rows, std::uint64_t cols) {
    if (rows == 0) return InvalidParameter{"rows", "must be greater than zero"};
    if (cols == 0) return InvalidParameter{"cols", "must be greater than zero"};
    std::uint64_t size = 0;
    if (__builtin_mul_overflow(rows, cols, &size)) {
        return InvalidParameter{"shape", "rows * cols overflows usize"};
    }
    if (data.size() != size) return LengthMismatch{"data", size, data.size()};
    if (auto bad = first_non_finite(data)) return NonFiniteInput{*bad};
    return ok;
}

Result<Fit> fit_2d_with(std::span<const double> data, std::uint64_t rows, std::uint64_t cols,
                        Method2D method) {
    if (auto valid = validate_grid(data, rows, cols); !valid) return valid.error();
    constexpr const char* pending = "the grid algorithms are not built yet";
    switch (method.kind) {
        case Method2D::Asls: return Unsupported{"two-dimensional asls", pending};
        case Method2D::ArPls: return Unsupported{"two-dimensional arpls", pending};
        case Method2D::RollingBall: return Unsupported{"two-dimensional rolling_ball", pending};
        case Method2D::Polynomial: return Unsupported{"two-dimensional polynomial", pending};
    }
    return InvalidParameter{"method", "expected asls, arpls, rolling_ball, or polynomial"};
}

Result<std::vector<double>> baseline_2d_with(std::span<const double> data, std::uint64_t rows,
                                             std::uint64_t cols, Method2D method) {
    return baseline_of(fit_2d_with(data, rows, cols, method));
}

Result<std::vector<double>> correct_2d_with(std::span<const double> data, std::uint64_t rows,
                                            std::uint64_t cols, Method2D method) {
    return subtract_baseline(data, fit_2d_with(data, rows, cols, method), "data");
}

}  // namespace quorvel::simple
