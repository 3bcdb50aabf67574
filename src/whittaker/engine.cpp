#include "engine.hpp"

namespace quorvel::whittaker {

Status validate_fit(std::span<const double> y, const WhittakerParams& params, std::size_t baseline_len) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline_len != n) return LengthMismatch{"baseline", n, baseline_len};
    if (n < 3) return InputTooShort{n, "whittaker", 3};
    if (!is_finite_positive(params.lambda)) return InvalidParameter{"lambda", "must be finite and positive"};
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be greater than zero"};
    if (is_non_finite(params.tol)) return InvalidParameter{"tol", "must be finite"};
    return ok;
}

// Two used samples are the fewest that pin down the straight line the penalty tends to.
Status validate_mask(std::size_t n, Mask mask) {
    if (mask.empty()) return ok;
    if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    if (used_count(n, mask) < 2) return InvalidParameter{"mask", "must keep at least two samples"};
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
