#include "engine.hpp"

#include <algorithm>

namespace quorvel::whittaker {

Status validate_fit(std::span<const double> y, const WhittakerParams& params, std::size_t baseline_len) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline_len != n) return LengthMismatch{"baseline", n, baseline_len};
    if (params.diff_order < 1 || params.diff_order > 3) {
        return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
    }
    if (n < 3 || n <= params.diff_order) {
        return InputTooShort{n, "whittaker", std::max<std::uint64_t>(3, params.diff_order + 1)};
    }
    if (!is_finite_positive(params.lambda)) return InvalidParameter{"lambda", "must be finite and positive"};
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be greater than zero"};
    if (is_non_finite(params.tol)) return InvalidParameter{"tol", "must be finite"};
    return ok;
}

// Two used samples are the fewest that pin down the straight line a penalty of order 1 or 2 tends
// to, three the parabola of order 3.
Status validate_mask(std::size_t n, Mask mask, unsigned diff_order) {
    if (mask.empty()) return ok;
    if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    const std::size_t used = used_count(n, mask);
    if (used < 2) return InvalidParameter{"mask", "must keep at least two samples"};
    if (diff_order == 3 && used < 3) return InvalidParameter{"mask", "must keep at least three samples"};
    return ok;
}

double residual_scale(std::span<const double> y, Mask mask) {
    double sum = -0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!is_masked_out(mask, i)) sum = sum + std::fabs(y[i]);
    }
    return std::fmax(sum, epsilon);
}

double negative_residual_share(std::span<const double> y, std::span<const double> baseline, Mask mask,
                               double scale) {
    double sum = -0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double d = y[i] - baseline[i];
        if (!is_masked_out(mask, i) && d < 0.0) sum = sum + std::fabs(d);
    }
    return sum / scale;
}

}  // namespace quorvel::whittaker
