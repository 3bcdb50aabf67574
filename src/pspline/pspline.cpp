#include "pspline.hpp"

#include <algorithm>

#include "core/abscissa.hpp"
#include "core/numeric.hpp"
#include "linalg/difference_penalty.hpp"

namespace quorvel::pspline {

namespace {

// The positions and the basis on them, unless the workspace holds them for the same x already.
Status place_basis(std::span<const double> x, std::size_t n, const PsplineParams& params,
                   PsplineWorkspace& workspace) {
    const BasisKey key{x.empty() ? nullptr : x.data(), n, params.num_knots, params.spline_degree};
    if (workspace.built_for == key) return ok;
    workspace.built_for.reset();
    if (auto built = build_on_axis(x, n, "x", params.num_knots, params.spline_degree, workspace.positions,
                                   workspace.basis);
        !built) {
        return built;
    }
    workspace.built_for = key;
    return ok;
}

}  // namespace

Status prepare(std::span<const double> y, std::span<const double> x, const PsplineParams& params, Mask mask,
               std::size_t baseline_len, PsplineWorkspace& workspace) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline_len != n) return LengthMismatch{"baseline", n, baseline_len};
    if (n < 2) return InputTooShort{n, "pspline", 2};
    if (!is_finite_positive(params.lambda)) return InvalidParameter{"lam", "must be finite and positive"};
    if (params.max_iter == 0 || params.max_iter >= UINT64_MAX) {
        return InvalidParameter{"max_iter", "must be greater than zero"};
    }
    if (is_non_finite(params.tol)) return InvalidParameter{"tol", "must be finite"};
    if (params.diff_order < 1 || params.diff_order > linalg::max_difference_order) {
        return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
    }
    if (auto checked = check_spline(n, params.num_knots, params.spline_degree); !checked) return checked;
    if (!mask.empty()) {
        if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
        if (used_count(n, mask) < 2) return InvalidParameter{"mask", "must keep at least two samples"};
    }

    if (auto placed = place_basis(x, n, params, workspace); !placed) return placed;

    workspace.system.slopes_formed = false;
    workspace.weights.resize(n);
    for (std::size_t i = 0; i < n; ++i) workspace.weights[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    return ok;
}

Status solve_weighted(std::span<const double> y, const PsplineParams& params, Mask mask, const SystemTerms& terms,
                      PsplineWorkspace& workspace, std::span<double> baseline) {
    return solve_system(y, workspace.weights, mask, workspace.basis, params.lambda, params.diff_order, terms,
                        workspace.system, baseline);
}

}  // namespace quorvel::pspline
