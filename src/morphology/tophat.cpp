#include "tophat.hpp"

#include <vector>

#include "core/numeric.hpp"
#include "extrema.hpp"
#include "morphology/two_d/morphology.hpp"

namespace quorvel::morphology {

Result<FitReport> tophat_into(std::span<const double> y, std::uint64_t half_window, std::span<double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    moving_max_reflect(moving_min_reflect(y, half_window), half_window, baseline);
    return single_pass;
}

Result<FitReport> tophat_into(const two_d::Grid& data, std::uint64_t half_rows, std::uint64_t half_cols,
                              const two_d::GridOut& output) {
    if (!two_d::same_shape(data, output)) return two_d::output_mismatch(data, output);
    std::vector<double> temp(data.data.size());
    // The dilation's row pass has consumed the erosion before its column pass writes, so both
    // passes can share the output's storage.
    two_d::morphology::moving_min_reflect_with_workspace(data.data, data.rows, data.cols, half_rows, half_cols, temp,
                                                         output.data);
    two_d::morphology::moving_max_reflect_with_workspace(output.data, data.rows, data.cols, half_rows, half_cols, temp,
                                                         output.data);
    return single_pass;
}

}  // namespace quorvel::morphology
