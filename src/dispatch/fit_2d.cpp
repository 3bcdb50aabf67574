#include "fit.hpp"

#include <type_traits>

#include "core/numeric.hpp"
#include "clipping/snip.hpp"
#include "masking.hpp"
#include "morphology/imor.hpp"
#include "morphology/mor.hpp"
#include "morphology/tophat.hpp"
#include "morphology/window_estimate.hpp"
#include "morphology/two_d/morphology.hpp"
#include "polynomial/two_d/polynomial.hpp"
#include "polynomial_fit.hpp"
#include "pspline_fit.hpp"
#include "rules.hpp"
#include "smoothing/noise_median.hpp"

namespace quorvel::dispatch {
namespace {

using catalogue::MethodId;
namespace tw = two_d::whittaker;

template <class Rule>
Result<FitReport> whittaker_into(const two_d::Grid& grid, Mask mask, const Options& options, Rule rule,
                                 const two_d::GridOut& out, Scratch& scratch, Details* details) {
    if constexpr (std::is_same_v<Rule, tw::AslsWeights>) {
        if (auto valid = tw::validate_p(rule.p); !valid) return valid.error();
    }
    const bool multigrid = options.grid.solver == tw::GridSolver::multigrid;
    std::uint64_t short_solves = 0;
    const tw::FitControls controls{mask, details ? &details->history : nullptr, multigrid ? &scratch.multigrid : nullptr,
                                   details ? &details->outer_iterations : nullptr, &short_solves};
    const auto params = whittaker_2d_params(options.whittaker, options.grid, options.x, options.z);
    auto report = tw::fit_controlled(grid, params, rule, out, scratch.whittaker_2d, controls);
    if (!report) return report;
    if (details) details->weights = scratch.whittaker_2d.weights;
    report.value().short_solves = short_solves;
    return report;
}

// The caller's windows, or for 0 the one the data settle at (reported in `details`).
std::array<std::uint64_t, 2> windows_of(const two_d::Grid& grid, const WindowRecord& record, Details* details) {
    if (record.half_window[0] != 0 && record.half_window[1] != 0) return record.half_window;
    const auto [rows, cols] = morphology::estimate_half_window(grid.data, grid.rows, grid.cols);
    if (details) details->half_window = {rows, cols};
    return {rows, cols};
}

Result<FitReport> method_into(const two_d::Grid& grid, Mask mask, const Options& options,
                              const two_d::GridOut& out, Scratch& scratch, Details* details) {
    const auto whittaker = [&](const auto& rule) {
        return whittaker_into(grid, mask, options, rule, out, scratch, details);
    };
    const auto other = [&]() -> Result<FitReport> {
        switch (options.method) {
            case MethodId::RollingBall: {
                const auto& half = options.window.half_window;
                return two_d::morphology::rolling_ball_into(grid, 2 * half[0] + 1, 2 * half[1] + 1, out);
            }
            case MethodId::Polynomial:
                if (!options.x.empty() || !options.z.empty()) {
                    return two_d::polynomial::poly_on_axes_into(grid, options.polynomial.poly_order[0], mask, options.x,
                                                                options.z, out);
                }
                return two_d::polynomial::poly_masked_into(grid, options.polynomial.poly_order[0], mask, out);
            case MethodId::Tophat: {
                const auto& half = options.window.half_window;
                return morphology::tophat_into(grid, half[0], half[1], out);
            }
            case MethodId::Snip:
                return clipping::snip_into(grid, snip_params(options.clipping, {grid.rows, grid.cols}), out,
                                           scratch.snip);
            case MethodId::Mor: {
                const auto half = windows_of(grid, options.window, details);
                return morphology::mor_into(grid, half[0], half[1], out);
            }
            case MethodId::Imor: {
                const auto half = windows_of(grid, options.window, details);
                const morphology::ImorParams params{options.window.tol, options.window.max_iter};
                return morphology::imor_into(grid, half[0], half[1], params, out,
                                             details ? &details->history : nullptr);
            }
            case MethodId::NoiseMedian: {
                SmoothingRecord record = options.smoothing;
                if ((record.half_window[0] == 0 || record.half_window[1] == 0) && !first_non_finite(grid.data)) {
                    // Twice the lines' own windows: the reference library's square search often runs to half the
                    // columns, and twice that is a median over most of the grid, for minutes.
                    const auto [along_cols, along_rows] =
                        morphology::estimate_half_window_by_lines(grid.data, grid.rows, grid.cols);
                    const auto inside = [](std::uint64_t h, std::uint64_t extent) {
                        return std::min<std::uint64_t>(2 * h, std::max<std::uint64_t>(extent, 2) - 1);
                    };
                    record.half_window = {inside(along_cols, grid.rows), inside(along_rows, grid.cols)};
                    if (details) details->half_window = record.half_window;
                }
                const auto params = noise_median_params(record, {grid.rows, grid.cols});
                return smoothing::noise_median_into(grid, params, out, scratch.noise_median);
            }
            case MethodId::PsplineAsls:
            case MethodId::PsplineArPls:
            case MethodId::PsplineAirPls:
            case MethodId::PsplineIarPls:
            case MethodId::PsplinePsalsa:
            case MethodId::PsplineDerPsalsa:
            case MethodId::PsplineLsrPls:
            case MethodId::PsplineBrPls:
            case MethodId::PsplineDrPls:
            case MethodId::PsplineIasls:
            case MethodId::PsplineAsPls:
            case MethodId::PsplineMpls:
            case MethodId::MixtureModel:
            case MethodId::Irsqr: return pspline_2d_into(grid, mask, options, out, scratch, details);
            case MethodId::Poly:
            case MethodId::Modpoly:
            case MethodId::Imodpoly:
            case MethodId::PenalizedPoly:
            case MethodId::QuantReg: {
                const PolynomialRecord& r = options.polynomial;
                return polynomial_into({grid.data, mask, grid.rows, grid.cols, options.x, options.z, r.poly_order,
                                        r.max_cross},
                                       options, out.data, scratch.polynomial, details ? &details->history : nullptr);
            }
            case MethodId::Loess:
            case MethodId::Rubberband:
            case MethodId::PeakFilling:
            case MethodId::CornerCutting:
            case MethodId::Mwmv:
            case MethodId::InterpPts:
            case MethodId::Amormol:
            case MethodId::Mormol:
            case MethodId::Mpls:
            case MethodId::Jbcd:
            case MethodId::Ipsa:
            case MethodId::Ria:
            case MethodId::Goldindec:
            case MethodId::Swima:
            case MethodId::Asls:
            case MethodId::ArPls:
            case MethodId::AirPls:
            case MethodId::Iasls:
            case MethodId::DrPls:
            case MethodId::IarPls:
            case MethodId::AsPls:
            case MethodId::Psalsa:
            case MethodId::DerPsalsa:
            case MethodId::BrPls:
            case MethodId::LsrPls: break;
        }
        return Unsupported{"method", "not a method of grids"};
    };
    return with_rule<2>(options, whittaker, other);
}

Status validate_masked(std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Mask mask) {
    const auto size = two_d::validate_shape(rows, cols);
    if (!size) return size.error();
    if (data.size() != size.value()) return LengthMismatch{"data", size.value(), data.size()};
    if (mask.size() != data.size()) return LengthMismatch{"mask", data.size(), mask.size()};
    if (auto bad = first_non_finite_used(data, mask)) return NonFiniteInput{*bad};
    if (used_count(data.size(), mask) == 0) return InvalidParameter{"mask", "must keep at least one sample"};
    return ok;
}

// The stand-ins of the masked-out points, as for spectra; the polynomial never reads them.
std::span<const double> stand_ins(std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Mask mask,
                                  const Options& options, Scratch& scratch) {
    auto& stand_in = scratch.stand_in;
    stand_in.resize(data.size());
    switch (catalogue::row(options.method).family) {
        case catalogue::Family::Morphology:
        case catalogue::Family::Clipping:
        case catalogue::Family::Smoothing: bridge_masked_grid(data, rows, cols, mask, stand_in); break;
        case catalogue::Family::Whittaker:
        case catalogue::Family::Pspline:
        case catalogue::Family::Polynomial: zero_masked(data, mask, stand_in); break;
    }
    return stand_in;
}

}  // namespace

Status validate_grid(std::span<const double> data, std::uint64_t rows, std::uint64_t cols) {
    const auto size = two_d::validate_shape(rows, cols);
    if (!size) return size.error();
    if (data.size() != size.value()) return LengthMismatch{"data", size.value(), data.size()};
    if (auto bad = first_non_finite(data)) return NonFiniteInput{*bad};
    return ok;
}

Result<FitReport> fit_2d_into(std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Mask mask,
                              const Options& options, std::span<double> baseline, Scratch& scratch,
                              Details* details) {
    const two_d::GridOut out{baseline, rows, cols};
    if (mask.empty()) {
        if (auto valid = validate_grid(data, rows, cols); !valid) return valid.error();
        if (baseline.size() != data.size()) return LengthMismatch{"output", data.size(), baseline.size()};
        return method_into(two_d::Grid{data, rows, cols}, mask, options, out, scratch, details);
    }
    if (auto valid = validate_masked(data, rows, cols, mask); !valid) return valid.error();
    if (baseline.size() != data.size()) return LengthMismatch{"output", data.size(), baseline.size()};
    const auto fitted = stand_ins(data, rows, cols, mask, options, scratch);
    return method_into(two_d::Grid{fitted, rows, cols}, mask, options, out, scratch, details);
}

}  // namespace quorvel::dispatch
