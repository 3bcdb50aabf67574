#include "engine.hpp"

#include "../numeric.hpp"

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

}  // namespace quorvel::whittaker
