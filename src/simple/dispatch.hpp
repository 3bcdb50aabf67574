// Runs a method with the catalogue's defaults and gives the baseline or the corrected signal.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "method.hpp"

namespace quorvel::simple {

Result<Fit> fit_with(std::span<const double> y, Method method);
Result<std::vector<double>> baseline_with(std::span<const double> y, Method method);
Result<std::vector<double>> correct_with(std::span<const double> y, Method method);

Result<Fit> fit_2d_with(std::span<const double> data, std::uint64_t rows, std::uint64_t cols,
                        Method2D method);
Result<std::vector<double>> baseline_2d_with(std::span<const double> data, std::uint64_t rows,
                                             std::uint64_t cols, Method2D method);
Result<std::vector<double>> correct_2d_with(std::span<const double> data, std::uint64_t rows,
                                            std::uint64_t cols, Method2D method);

}  // namespace quorvel::simple
