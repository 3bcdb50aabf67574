#include "grid_pspline.hpp"

#include "core/abscissa.hpp"
#include "core/numeric.hpp"
#include "linalg/difference_penalty.hpp"

namespace quorvel::pspline::two_d {
namespace {

Status check_axis(std::uint64_t extent, std::uint64_t num_knots, std::uint64_t degree, const char* beyond) {
    if (auto checked = check_spline(extent, num_knots, degree); !checked) {
        if (num_knots > extent && degree <= max_spline_degree && num_knots >= std::max<std::uint64_t>(2, degree + 1)) {
            return InvalidParameter{"num_knots", beyond};
        }
        return checked;
    }
    return ok;
}


}  // namespace

Status prepare_grid(const Grid& data, std::span<const double> x, std::span<const double> z,
                    const GridPsplineParams& params, Mask mask, const GridOut& output, GridPsplineWorkspace& ws) {
    const std::size_t n = data.data.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(data.data)) return NonFiniteInput{*bad};
    if (!same_shape(data, output)) return quorvel::two_d::output_mismatch(data, output);
    if (data.rows < 2 || data.cols < 2) return InputTooShort{n, "pspline", 4};
    for (double lambda : params.lambda) {
        if (!is_finite_positive(lambda)) return InvalidParameter{"lam", "must be finite and positive"};
    }
    if (params.max_iter == 0 || params.max_iter >= UINT64_MAX) {
        return InvalidParameter{"max_iter", "must be greater than zero"};
    }
    if (is_non_finite(params.tol)) return InvalidParameter{"tol", "must be finite"};
    for (unsigned order : params.diff_order) {
        if (order < 1 || order > linalg::max_difference_order) {
            return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
        }
    }
    if (auto checked = check_axis(data.rows, params.num_knots[0], params.spline_degree[0],
                                  "must be at most the number of rows (axis 0)");
        !checked) {
        return checked;
    }
    if (auto checked = check_axis(data.cols, params.num_knots[1], params.spline_degree[1],
                                  "must be at most the number of columns (axis 1)");
        !checked) {
        return checked;
    }
    if (!mask.empty()) {
        if (mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
        // The penalty leaves free the products of a polynomial of degree d0 - 1 along axis 0 and one of d1 - 1
        // along axis 1.
        const std::size_t free = std::size_t{params.diff_order[0]} * params.diff_order[1], used = used_count(n, mask);
        if (free == 9 && used < 9) return InvalidParameter{"mask", "must keep at least nine samples"};
        if (free == 6 && used < 6) return InvalidParameter{"mask", "must keep at least six samples"};
        if (used < 4) return InvalidParameter{"mask", "must keep at least four samples"};
    }
    if (auto built = build_on_axis(x, data.rows, "x", params.num_knots[0], params.spline_degree[0], ws.positions[0],
                                ws.bases.axis0);
        !built) {
        return built;
    }
    if (auto built = build_on_axis(z, data.cols, "z", params.num_knots[1], params.spline_degree[1], ws.positions[1],
                                ws.bases.axis1);
        !built) {
        return built;
    }
    ws.system.slopes_formed = false;
    ws.weights.resize(n);
    for (std::size_t i = 0; i < n; ++i) ws.weights[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    return ok;
}

Status solve_weighted(const Grid& data, const GridPsplineParams& params, Mask mask, const GridTerms& terms,
                      GridPsplineWorkspace& ws, std::span<double> baseline) {
    const GridPenalty penalty{params.lambda, params.diff_order};
    return solve_grid(data, ws.weights, mask, ws.bases, penalty, terms, ws.system, baseline);
}

}  // namespace quorvel::pspline::two_d
