#include "polynomial_fit.hpp"

#include "polynomial/least_squares.hpp"
#include "polynomial/modpoly.hpp"
#include "polynomial/penalized_poly.hpp"
#include "polynomial/quant_reg.hpp"

namespace quorvel::dispatch {

Result<FitReport> polynomial_into(const polynomial::Problem& problem, const Options& options, std::span<double> out,
                                  polynomial::FitWorkspace& ws, std::vector<double>* history) {
    using catalogue::MethodId;
    const PolynomialRecord& r = options.polynomial;
    switch (options.method) {
        case MethodId::Poly: return polynomial::least_squares_into(problem, out, ws);
        case MethodId::Modpoly: return polynomial::modpoly_into(problem, modpoly_params(r), out, ws, history);
        case MethodId::Imodpoly: return polynomial::imodpoly_into(problem, modpoly_params(r), out, ws, history);
        case MethodId::PenalizedPoly:
            return polynomial::penalized_poly_into(problem, penalized_poly_params(r), out, ws, history);
        case MethodId::QuantReg: return polynomial::quant_reg_into(problem, quant_reg_params(r), out, ws, history);
        case MethodId::Asls:
        case MethodId::ArPls:
        case MethodId::AirPls:
        case MethodId::RollingBall:
        case MethodId::Polynomial:
        case MethodId::Tophat:
        case MethodId::Iasls:
        case MethodId::DrPls:
        case MethodId::IarPls:
        case MethodId::AsPls:
        case MethodId::Psalsa:
        case MethodId::DerPsalsa:
        case MethodId::BrPls:
        case MethodId::LsrPls:
        case MethodId::Snip:
        case MethodId::Rubberband:
        case MethodId::Mor:
        case MethodId::Imor:
        case MethodId::Amormol:
        case MethodId::Mormol:
        case MethodId::NoiseMedian:
        case MethodId::Loess:
        case MethodId::PeakFilling:
        case MethodId::CornerCutting:
        case MethodId::Mwmv:
        case MethodId::InterpPts:
        case MethodId::Mpls:
        case MethodId::Jbcd:
        case MethodId::Ipsa:
        case MethodId::Ria:
        case MethodId::PsplineAsls:
        case MethodId::PsplineArPls:
        case MethodId::PsplineAirPls: break;
    }
    return Unsupported{"method", "not a polynomial fit"};
}

}  // namespace quorvel::dispatch
