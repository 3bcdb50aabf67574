// Least-squares polynomial through every sample, on the abscissa mapped to [-1, 1].
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "../error.hpp"
#include "../fit_report.hpp"
#include "../mask.hpp"

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
// Masked-out samples are never read; the abscissa still spans all n samples.
Result<FitReport> poly_masked_into(std::span<const double> y, std::uint64_t order, Mask mask,
                                   std::span<double> out);

void evaluate_polynomial_coefficients(std::span<const double> coefficients, std::span<double> out);

}  // namespace quorvel::polynomial
