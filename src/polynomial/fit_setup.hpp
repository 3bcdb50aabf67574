// What the polynomial family's fits share: the data they fit (a spectrum or a grid), their checks, the
// positions and weights, the fit through any values, and the convergence tests.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"
#include "projector.hpp"
#include "surface_system.hpp"

namespace quorvel::polynomial {

inline constexpr std::uint64_t any_cross = std::numeric_limits<std::uint64_t>::max();

// A spectrum (cols 0) or a grid of rows x cols, row-major; x: positions along the spectrum or down the rows
// (axis 0), z: across the columns (axis 1); empty: evenly spaced.
struct Problem {
    std::span<const double> y;
    Mask mask;
    std::uint64_t rows = 0, cols = 0;
    std::span<const double> x{}, z{};
    std::array<std::uint64_t, 2> order{2, 2};  // spectra use the first
    std::uint64_t max_cross = any_cross;        // grids: cross terms T_a(x) T_b(z) need a, b <= max_cross

    bool grid() const { return cols != 0; }
};

struct FitWorkspace {
    std::vector<double> positions, cross_positions;  // in [-1, 1]: along the spectrum or axis 0; along axis 1
    std::vector<std::array<std::uint64_t, 2>> terms;  // grids: (power along axis 0, along axis 1)
    bool grid = false;
    std::vector<double> used;     // 0 at masked samples, else 1
    std::vector<double> weights;  // the fit's weights: `used`, or the method's own
    std::vector<double> work, previous;
    Projector projector;
    SurfaceSystem surface;
    bool surface_normal = false;  // grids: the surface's normal equations serve, not the projector
};

struct IterationLimits {
    double tol;
    std::uint64_t max_iter;
};

// The library's checks in its order (empty data, the mask's length, the first non-finite used sample, the
// output's length, the order against the used samples), then the positions, the terms and the mask's weights in
// `used` and `weights`. `method` names the fit in a too-short error.
Status prepare(const Problem& problem, std::span<double> out, const char* method, FitWorkspace& ws);
// Sets the fit up for the current `weights`.
Status refit(FitWorkspace& ws);
// out = the fit through v; the tracking form returns its relative change over the used samples.
void fit_through(FitWorkspace& ws, std::span<const double> v, std::span<double> out);
double fit_tracking(FitWorkspace& ws, std::span<const double> v, std::span<double> out);
// How many terms the polynomial has.
std::uint64_t term_count(const FitWorkspace& ws);

Status check_limits(IterationLimits limits);

// Population standard deviation of a - b over the samples of positive weight.
double used_deviation(std::span<const double> a, std::span<const double> b, std::span<const double> weights);

// ‖now - old‖ / ‖old‖ over the samples of positive weight, with ‖old‖ at least 2^-52 as the field computes it.
double relative_change(std::span<const double> old, std::span<const double> now, std::span<const double> weights);

// Records one iteration's change and says whether the loop stops (below tol or at max_iter).
bool finish_iteration(double change, std::uint64_t iteration, IterationLimits limits, FitReport& report,
                      std::vector<double>* history);

}  // namespace quorvel::polynomial
