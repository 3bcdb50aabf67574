#include "polynomial_fit.hpp"

#include <array>
#include <utility>

#include "polynomial/least_squares.hpp"
#include "polynomial/modpoly.hpp"
#include "polynomial/penalized_poly.hpp"
#include "polynomial/quant_reg.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::MethodId;
using polynomial::FitWorkspace;
using polynomial::Problem;
using History = std::vector<double>*;
using Fit = Result<FitReport> (*)(const Problem&, const PolynomialRecord&, std::span<double>, FitWorkspace&,
                                  History);

// The family's fits by method: a table, so that a method elsewhere in the catalogue needs no line here.
constexpr std::array<std::pair<MethodId, Fit>, 5> fits{{
    {MethodId::Poly,
     [](const Problem& p, const PolynomialRecord&, std::span<double> out, FitWorkspace& ws, History) {
         return polynomial::least_squares_into(p, out, ws);
     }},
    {MethodId::Modpoly,
     [](const Problem& p, const PolynomialRecord& r, std::span<double> out, FitWorkspace& ws, History h) {
         return polynomial::modpoly_into(p, modpoly_params(r), out, ws, h);
     }},
    {MethodId::Imodpoly,
     [](const Problem& p, const PolynomialRecord& r, std::span<double> out, FitWorkspace& ws, History h) {
         return polynomial::imodpoly_into(p, modpoly_params(r), out, ws, h);
     }},
    {MethodId::PenalizedPoly,
     [](const Problem& p, const PolynomialRecord& r, std::span<double> out, FitWorkspace& ws, History h) {
         return polynomial::penalized_poly_into(p, penalized_poly_params(r), out, ws, h);
     }},
    {MethodId::QuantReg,
     [](const Problem& p, const PolynomialRecord& r, std::span<double> out, FitWorkspace& ws, History h) {
         return polynomial::quant_reg_into(p, quant_reg_params(r), out, ws, h);
     }},
}};

}  // namespace

Result<FitReport> polynomial_into(const Problem& problem, const Options& options, std::span<double> out,
                                  FitWorkspace& ws, History history) {
    for (const auto& [method, fit] : fits) {
        if (method == options.method) return fit(problem, options.polynomial, out, ws, history);
    }
    return Unsupported{"method", "not a polynomial fit"};
}

}  // namespace quorvel::dispatch
