#include "dispatch.hpp"

#include "correction.hpp"
#include "../morphology/rolling_ball.hpp"
#include "../polynomial/polynomial.hpp"
#include "../whittaker/airpls.hpp"
#include "../whittaker/arpls.hpp"
#include "../whittaker/asls.hpp"
#include "../whittaker/engine.hpp"

namespace quorvel::simple {
namespace {

constexpr whittaker::WhittakerParams whittaker_defaults{1e6, 50, 1e-3};
constexpr double asls_p = 0.01;
constexpr std::size_t rolling_ball_window = 31;
constexpr std::uint64_t polynomial_order = 2;

}  // namespace

Result<Fit> fit_with(std::span<const double> y, Method method) {
    switch (method.kind) {
        case Method::Asls: return whittaker::fit_alloc(y, whittaker_defaults, whittaker::AslsWeights{asls_p});
        case Method::ArPls: return whittaker::fit_alloc(y, whittaker_defaults, whittaker::ArPlsWeights{});
        case Method::AirPls: return whittaker::fit_alloc(y, whittaker_defaults, whittaker::AirPlsWeights{});
        case Method::RollingBall: return morphology::rolling_ball(y, rolling_ball_window);
        case Method::Polynomial: return polynomial::poly(y, polynomial_order);
    }
    return InvalidParameter{"method", "expected asls, arpls, airpls, rolling_ball, or polynomial"};
}

Result<std::vector<double>> baseline_with(std::span<const double> y, Method method) {
    return baseline_of(fit_with(y, method), "y");
}

Result<std::vector<double>> correct_with(std::span<const double> y, Method method) {
    return subtract_baseline(y, fit_with(y, method), "y");
}

}  // namespace quorvel::simple
