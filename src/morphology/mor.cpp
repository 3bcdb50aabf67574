#include "mor.hpp"

#include <vector>

#include "averaged_opening.hpp"
#include "core/numeric.hpp"

namespace quorvel::morphology {

Result<FitReport> mor_into(std::span<const double> y, std::uint64_t half_window, std::span<double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    FlatSpectrum flat{half_window};
    std::vector<double> opening;
    averaged_opening(flat, y, {}, baseline, opening);
    return single_pass;
}

Result<FitReport> mor_into(const two_d::Grid& data, std::uint64_t half_rows, std::uint64_t half_cols,
                           const two_d::GridOut& output) {
    if (!two_d::same_shape(data, output)) return two_d::output_mismatch(data, output);
    if (half_rows == 0 || half_cols == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    FlatGrid flat{data.rows, data.cols, half_rows, half_cols};
    std::vector<double> opening;
    averaged_opening(flat, data.data, {}, output.data, opening);
    return single_pass;
}

}  // namespace quorvel::morphology
