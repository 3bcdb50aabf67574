#include "options.hpp"

#include <cmath>

namespace quorvel::dispatch {
namespace {

using catalogue::Family;
using catalogue::MethodId;

double number(MethodId method, int ndim, std::string_view name, double otherwise) {
    const auto* parameter = catalogue::find_parameter(catalogue::row(method).in(ndim), name);
    return parameter ? parameter->number : otherwise;
}

// 0 where the data decide.
std::uint64_t count(MethodId method, int ndim, std::string_view name) {
    const double value = number(method, ndim, name, 0.0);
    return std::isnan(value) ? 0 : static_cast<std::uint64_t>(value);
}

std::string_view choice(MethodId method, int ndim, std::string_view name, std::string_view otherwise) {
    const auto* parameter = catalogue::find_parameter(catalogue::row(method).in(ndim), name);
    return parameter ? parameter->default_choice() : otherwise;
}

}  // namespace

std::optional<whittaker::StopRule> stop_rule_named(std::string_view text) {
    if (text == "weights") return whittaker::StopRule::WeightChange;
    if (text == "residuals") return whittaker::StopRule::NegativeResiduals;
    return std::nullopt;
}

std::optional<two_d::whittaker::GridSolver> grid_solver_named(std::string_view text) {
    if (text == "cg") return two_d::whittaker::GridSolver::conjugate_gradients;
    if (text == "multigrid") return two_d::whittaker::GridSolver::multigrid;
    return std::nullopt;
}

std::optional<polynomial::CostFunction> cost_function_named(std::string_view text) {
    using polynomial::CostFunction;
    if (text == "asymmetric_truncated_quadratic") return CostFunction::AsymmetricTruncatedQuadratic;
    if (text == "symmetric_truncated_quadratic") return CostFunction::SymmetricTruncatedQuadratic;
    if (text == "asymmetric_huber") return CostFunction::AsymmetricHuber;
    if (text == "symmetric_huber") return CostFunction::SymmetricHuber;
    if (text == "asymmetric_indec") return CostFunction::AsymmetricIndec;
    if (text == "symmetric_indec") return CostFunction::SymmetricIndec;
    return std::nullopt;
}

std::optional<smoothing::RiaSide> ria_side_named(std::string_view text) {
    if (text == "both") return smoothing::RiaSide::Both;
    if (text == "left") return smoothing::RiaSide::Left;
    if (text == "right") return smoothing::RiaSide::Right;
    return std::nullopt;
}

Options defaults(MethodId method, int ndim) {
    Options options{method};
    switch (catalogue::row(method).family) {
        case Family::Whittaker: {
            const double lam = number(method, ndim, "lam", 0.0);
            const auto order = static_cast<std::uint64_t>(number(method, ndim, "diff_order", 2.0));
            const auto real = [&](std::string_view name) { return number(method, ndim, name, 0.0); };
            const auto whole = [&](std::string_view name) { return count(method, ndim, name); };
            options.whittaker = {
                .lam = {lam, lam},
                .p = real("p"),
                .max_iter = whole("max_iter"),
                .tol = real("tol"),
                .stop = *stop_rule_named(choice(method, ndim, "stop", "weights")),
                .diff_order = {order, order},
                .lam_1 = {real("lam_1"), real("lam_1")},
                .eta = real("eta"),
                .asymmetric_coef = real("asymmetric_coef"),
                .k = real("k"),
                .smooth_half_window = whole("smooth_half_window"),
                .num_smooths = whole("num_smooths"),
                .max_iter_2 = whole("max_iter_2"),
                .tol_2 = real("tol_2"),
            };
            options.grid = {*grid_solver_named(choice(method, ndim, "solver", "cg")),
                            count(method, ndim, "cg_max_iter"),
                            number(method, ndim, "cg_tol", 0.0)};
            break;
        }
        case Family::Morphology: {
            const std::uint64_t half = count(method, ndim, "half_window");
            const std::uint64_t smooth =
                method == MethodId::Mwmv ? same_as_window : count(method, ndim, "smooth_half_window");
            options.window = {{half, half},
                              number(method, ndim, "tol", 0.0),
                              count(method, ndim, "max_iter"),
                              smooth,
                              number(method, ndim, "lam", 0.0),
                              number(method, ndim, "p", 0.0),
                              count(method, ndim, "diff_order"),
                              number(method, ndim, "alpha", 0.0),
                              number(method, ndim, "beta", 0.0),
                              number(method, ndim, "gamma", 0.0),
                              number(method, ndim, "beta_mult", 0.0),
                              number(method, ndim, "gamma_mult", 0.0),
                              number(method, ndim, "tol_2", 0.0),
                              number(method, ndim, "robust_opening", 0.0) != 0.0};
            break;
        }
        case Family::Polynomial: {
            const auto real = [&](std::string_view name) { return number(method, ndim, name, 0.0); };
            options.polynomial = {
                .poly_order = {count(method, ndim, "poly_order"), count(method, ndim, "poly_order")},
                .max_cross = polynomial::any_cross,
                .tol = real("tol"),
                .max_iter = count(method, ndim, "max_iter"),
                .use_original = real("use_original") != 0.0,
                .mask_initial_peaks = real("mask_initial_peaks") != 0.0,
                .num_std = real("num_std"),
                .cost_function = *cost_function_named(
                    choice(method, ndim, "cost_function", "asymmetric_truncated_quadratic")),
                .threshold = real("threshold"),
                .alpha_factor = real("alpha_factor"),
                .peak_ratio = real("peak_ratio"),
                .tol_2 = real("tol_2"),
                .tol_3 = real("tol_3"),
                .max_iter_2 = count(method, ndim, "max_iter_2"),
                .quantile = real("quantile"),
                .eps = real("eps"),
                .fraction = real("fraction"),
                .total_points = count(method, ndim, "total_points"),
                .scale = real("scale"),
                .delta = real("delta"),
                .symmetric_weights = real("symmetric_weights") != 0.0,
                .use_threshold = real("use_threshold") != 0.0,
                .conserve_memory = real("conserve_memory") != 0.0,
            };
            break;
        }
        case Family::Clipping: {
            const auto flag = [&](std::string_view name) { return number(method, ndim, name, 0.0) != 0.0; };
            options.clipping = {
                .max_half_window = {0, 0},
                .decreasing = flag("decreasing"),
                .lls = flag("lls"),
                .smooth_half_window = count(method, ndim, "smooth_half_window"),
                .filter_order = static_cast<std::uint64_t>(number(method, ndim, "filter_order", 2.0)),
                .segments = count(method, ndim, "segments"),
                .diff_order = count(method, ndim, "diff_order"),
                .lam = 0.0,
                .max_iter = count(method, ndim, "max_iter"),
                .interpolation = *clipping::interpolation_named(choice(method, ndim, "interp_method", "linear")),
            };
            break;
        }
        case Family::Smoothing:
            options.smoothing = {.half_window = {0, 0},
                                 .smooth_half_window = number(method, ndim, "smooth_half_window", 0.0),
                                 .sigma = number(method, ndim, "sigma", 0.0),
                                 .sections = count(method, ndim, "sections"),
                                 .max_iter = count(method, ndim, "max_iter"),
                                 .lam_smooth = number(method, ndim, "lam_smooth", 0.0),
                                 .tol = number(method, ndim, "tol", 0.0),
                                 .side = *ria_side_named(choice(method, ndim, "side", "both")),
                                 .width_scale = number(method, ndim, "width_scale", 0.0),
                                 .height_scale = number(method, ndim, "height_scale", 0.0),
                                 .sigma_scale = number(method, ndim, "sigma_scale", 0.0),
                                 .min_half_window = count(method, ndim, "min_half_window"),
                                 .max_half_window = count(method, ndim, "max_half_window")};
            break;
        case Family::Pspline: {
            const auto pair = [](auto value) { return std::array{value, value}; };
            options.pspline = {.lam = pair(number(method, ndim, "lam", 0.0)),
                               .p = number(method, ndim, "p", 0.0),
                               .max_iter = count(method, ndim, "max_iter"),
                               .tol = number(method, ndim, "tol", 0.0),
                               .num_knots = pair(count(method, ndim, "num_knots")),
                               .spline_degree = pair(count(method, ndim, "spline_degree")),
                               .diff_order = pair(count(method, ndim, "diff_order")),
                               .k = number(method, ndim, "k", 0.0),
                               .smooth_half_window = count(method, ndim, "smooth_half_window"),
                               .num_smooths = count(method, ndim, "num_smooths"),
                               .max_iter_2 = count(method, ndim, "max_iter_2"),
                               .tol_2 = number(method, ndim, "tol_2", 0.0),
                               .eta = number(method, ndim, "eta", 0.0),
                               .lam_1 = pair(number(method, ndim, "lam_1", 0.0)),
                               .asymmetric_coef = number(method, ndim, "asymmetric_coef", 0.0),
                               .symmetric = number(method, ndim, "symmetric", 0.0) != 0.0,
                               .quantile = number(method, ndim, "quantile", 0.0),
                               .eps = number(method, ndim, "eps", 0.0),
                               .half_window = count(method, ndim, "half_window")};
            break;
        }
    }
    return options;
}

}  // namespace quorvel::dispatch
