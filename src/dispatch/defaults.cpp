#include "options.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::Family;
using catalogue::MethodId;

double number(MethodId method, int ndim, std::string_view name, double otherwise) {
    const auto* parameter = catalogue::find_parameter(catalogue::row(method).in(ndim), name);
    return parameter ? parameter->number : otherwise;
}

std::uint64_t count(MethodId method, int ndim, std::string_view name) {
    return static_cast<std::uint64_t>(number(method, ndim, name, 0.0));
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

Options defaults(MethodId method, int ndim) {
    Options options{method};
    switch (catalogue::row(method).family) {
        case Family::Whittaker: {
            const double lam = number(method, ndim, "lam", 0.0);
            options.whittaker = {{lam, lam}, number(method, ndim, "p", 0.0), count(method, ndim, "max_iter"),
                                 number(method, ndim, "tol", 0.0), *stop_rule_named(choice(method, ndim, "stop", "weights"))};
            options.grid = {*grid_solver_named(choice(method, ndim, "solver", "cg")), count(method, ndim, "cg_max_iter"),
                            number(method, ndim, "cg_tol", 0.0)};
            break;
        }
        case Family::Morphology: {
            const std::uint64_t half = count(method, ndim, "half_window");
            options.window = {{half, half}};
            break;
        }
        case Family::Polynomial: options.polynomial = {count(method, ndim, "poly_order")}; break;
    }
    return options;
}

}  // namespace quorvel::dispatch
