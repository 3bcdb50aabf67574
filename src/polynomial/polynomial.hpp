// Least-squares polynomial through every sample, on the abscissa mapped to [-1, 1].
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/abscissa.hpp"
#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"

namespace quorvel::polynomial {

struct PolynomialFitWorkspace {
    std::vector<double> normal_matrix;
    std::vector<double> rhs;
    std::vector<double> powers;
    std::vector<double> coefficients;
    std::vector<double> pivot_row;

    explicit PolynomialFitWorkspace(std::uint64_t order);
};

Result<Fit> poly(std::span<const double> y, std::uint64_t order);
// `out` is written only after a successful solve.
Result<FitReport> poly_into(std::span<const double> y, std::uint64_t order, std::span<double> out);
// A mask entry false leaves its sample out of the fit; its y is never read and may be anything. The
// abscissa still comes from the sample's index and n, and the curve is evaluated at every sample.
Result<FitReport> poly_masked_into(std::span<const double> y, std::uint64_t order, Mask mask,
                                   std::span<double> out);

// The fit on the caller's sample positions x (one per sample, strictly monotonic), mapped onto [-1, 1];
// an empty mask uses every sample.
Result<FitReport> poly_on_x_into(std::span<const double> y, std::span<const double> x, std::uint64_t order,
                                 Mask mask, std::span<double> out);

void evaluate_polynomial_coefficients(std::span<const double> coefficients, std::span<double> out);

}  // namespace quorvel::polynomial
