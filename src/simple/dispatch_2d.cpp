#include "../numeric.hpp"
#include "../two_d/grid.hpp"
#include "../two_d/morphology.hpp"
#include "../two_d/polynomial.hpp"
#include "../two_d/whittaker.hpp"
#include "correction.hpp"
#include "dispatch.hpp"

namespace quorvel::simple {
namespace {

constexpr two_d::whittaker::Whittaker2DParams whittaker_2d_defaults{
    .lambda_rows = std::nullopt,
    .lambda_cols = std::nullopt,
    .lambda = 1e4,
    .max_iter = 50,
    .tol = 1e-3,
    .cg_max_iter = 500,
    .cg_tol = 1e-6,
};
constexpr double asls_2d_p = 0.01;
constexpr std::uint64_t rolling_ball_2d_window = 7;
constexpr std::uint64_t polynomial_2d_order = 2;

}  // namespace

Status validate_grid(std::span<const double> data, std::uint64_t rows, std::uint64_t cols) {
    const auto size = two_d::validate_shape(rows, cols);
    if (!size) return size.error();
    if (data.size() != size.value()) return LengthMismatch{"data", size.value(), data.size()};
    if (auto bad = first_non_finite(data)) return NonFiniteInput{*bad};
    return ok;
}

Result<Fit> fit_2d_with(std::span<const double> data, std::uint64_t rows, std::uint64_t cols,
                        Method2D method) {
    if (auto valid = validate_grid(data, rows, cols); !valid) return valid.error();
    const two_d::Grid grid{data, rows, cols};
    switch (method.kind) {
        case Method2D::Asls: return two_d::whittaker::asls(grid, {whittaker_2d_defaults, asls_2d_p});
        case Method2D::ArPls: return two_d::whittaker::arpls(grid, whittaker_2d_defaults);
        case Method2D::RollingBall:
            return two_d::morphology::rolling_ball(grid, rolling_ball_2d_window, rolling_ball_2d_window);
        case Method2D::Polynomial: return two_d::polynomial::poly(grid, polynomial_2d_order);
    }
    return InvalidParameter{"method", "expected asls, arpls, rolling_ball, or polynomial"};
}

Result<std::vector<double>> baseline_2d_with(std::span<const double> data, std::uint64_t rows,
                                             std::uint64_t cols, Method2D method) {
    return baseline_of(fit_2d_with(data, rows, cols, method), "data");
}

Result<std::vector<double>> correct_2d_with(std::span<const double> data, std::uint64_t rows,
                                            std::uint64_t cols, Method2D method) {
    return subtract_baseline(data, fit_2d_with(data, rows, cols, method), "data");
}

}  // namespace quorvel::simple
