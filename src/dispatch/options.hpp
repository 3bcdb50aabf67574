// A method and its parameters, one record per family; each method reads only its family's record.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "catalogue/table.hpp"
#include "clipping/default_window.hpp"
#include "clipping/interp_pts.hpp"
#include "clipping/rubberband.hpp"
#include "clipping/snip.hpp"
#include "polynomial/goldindec.hpp"
#include "polynomial/loess.hpp"
#include "polynomial/modpoly.hpp"
#include "polynomial/penalized_poly.hpp"
#include "polynomial/quant_reg.hpp"
#include "pspline/pspline.hpp"
#include "pspline/two_d/grid_pspline.hpp"
#include "smoothing/noise_median.hpp"
#include "smoothing/peak_filling.hpp"
#include "smoothing/ria.hpp"
#include "smoothing/swima.hpp"
#include "whittaker/engine.hpp"
#include "whittaker/two_d/whittaker.hpp"

namespace quorvel::dispatch {

// One record for the family; each rule reads its own fields. NaN or 0 where the data decide a default.
struct WhittakerRecord {
    std::array<double, 2> lam;  // grids: along axis 0, along axis 1; spectra use the first
    double p;                   // asls, iasls, psalsa, derpsalsa
    std::uint64_t max_iter;
    double tol;
    whittaker::StopRule stop;   // airpls
    std::array<std::uint64_t, 2> diff_order;  // as lam
    std::array<double, 2> lam_1;  // iasls; as lam
    double eta;                 // drpls
    double asymmetric_coef;     // aspls
    std::span<const double> alpha{};  // aspls: one per sample of an item, or empty
    double k;                   // psalsa, derpsalsa
    std::uint64_t smooth_half_window, num_smooths;  // derpsalsa
    std::uint64_t max_iter_2;   // brpls
    double tol_2;
};

struct WindowRecord {
    std::array<std::uint64_t, 2> half_window;  // per axis; spectra use the first; 0: estimated from the data
    double tol;                                // imor, amormol, mormol
    std::uint64_t max_iter;
    std::uint64_t smooth_half_window;          // mormol, mwmv; 0: no smoothing
    double lam, p;                             // mpls
    std::uint64_t diff_order;                  // mpls, jbcd
    double alpha, beta, gamma, beta_mult, gamma_mult, tol_2;  // jbcd
    bool robust_opening;
};

// NaN where the data decide.
// mwmv's smooth_half_window left to the data: the half window.
inline constexpr std::uint64_t same_as_window = std::numeric_limits<std::uint64_t>::max();

struct PolynomialRecord {
    std::array<std::uint64_t, 2> poly_order;  // grids: along axis 0, along axis 1; spectra use the first
    std::uint64_t max_cross;                  // grids; polynomial::any_cross: no limit
    double tol;
    std::uint64_t max_iter;
    bool use_original, mask_initial_peaks;  // modpoly, imodpoly
    double num_std;                         // imodpoly
    polynomial::CostFunction cost_function; // penalized_poly, goldindec
    double threshold, alpha_factor;
    double peak_ratio, tol_2, tol_3;        // goldindec
    std::uint64_t max_iter_2;
    double quantile, eps;                   // quant_reg
    double fraction;                        // loess
    std::uint64_t total_points;             // 0: from fraction
    double scale, delta;
    bool symmetric_weights, use_threshold, conserve_memory;
};

// snip and rubberband; 0 where the data decide or the feature is off.
struct ClippingRecord {
    std::array<std::uint64_t, 2> max_half_window;  // snip: spectra (left, right), grids (axis 0, axis 1)
    bool decreasing, lls;
    std::uint64_t smooth_half_window, filter_order;
    std::uint64_t segments, diff_order;  // rubberband
    double lam;
    std::uint64_t max_iter;  // corner_cutting
    std::span<const double> points{};  // interp_pts: (x, y) pairs, or empty
    clipping::Interpolation interpolation;
};

// noise_median and peak_filling; 0 or NaN where the data decide.
struct SmoothingRecord {
    std::array<std::uint64_t, 2> half_window;  // spectra use the first
    double smooth_half_window, sigma;
    std::uint64_t sections, max_iter;  // peak_filling; max_iter also ipsa, ria
    double lam_smooth;
    double tol;               // ipsa, ria
    smoothing::RiaSide side;  // ria
    double width_scale, height_scale, sigma_scale;
    std::uint64_t min_half_window, max_half_window;  // swima; max_half_window 0: (n - 1) / 2
};

// The P-splines; the fields past diff_order are those of the Whittaker rules they reuse, then the spline-only
// methods'. NaN or 0 where the data decide a default. Pairs: grids along axis 0, along axis 1; spectra use the
// first.
struct PsplineRecord {
    std::array<double, 2> lam;
    double p;
    std::uint64_t max_iter;
    double tol;
    std::array<std::uint64_t, 2> num_knots, spline_degree, diff_order;
    double k;                                       // psalsa, derpsalsa
    std::uint64_t smooth_half_window, num_smooths;  // derpsalsa
    std::uint64_t max_iter_2;                       // brpls
    double tol_2;
    double eta;                                     // drpls
    std::array<double, 2> lam_1;                    // iasls
    double asymmetric_coef;                         // aspls
    std::span<const double> alpha{};                // aspls: one per sample of an item, or empty
    bool symmetric;                                 // mixture_model
    double quantile, eps;                           // irsqr; eps NaN: from the baseline
    std::uint64_t half_window;                      // pspline_mpls; 0: estimated from the data
};

struct GridSolverRecord {
    two_d::whittaker::GridSolver solver;
    std::uint64_t cg_max_iter;
    double cg_tol;
};

struct Options {
    catalogue::MethodId method;
    WhittakerRecord whittaker{};
    WindowRecord window{};
    PolynomialRecord polynomial{};
    ClippingRecord clipping{};
    SmoothingRecord smoothing{};
    PsplineRecord pspline{};
    GridSolverRecord grid{};
    // The caller's sample positions for the methods that use them (spectra: x; grids: x along axis 0, z
    // along axis 1); empty: evenly spaced.
    std::span<const double> x{};
    std::span<const double> z{};
};

// The values of the catalogue's choices, or nothing for a text that names none.
std::optional<whittaker::StopRule> stop_rule_named(std::string_view text);
std::optional<two_d::whittaker::GridSolver> grid_solver_named(std::string_view text);
std::optional<polynomial::CostFunction> cost_function_named(std::string_view text);
std::optional<smoothing::RiaSide> ria_side_named(std::string_view text);

// The catalogue's defaults for `method` in `ndim` dimensions: what the fixed-default module runs.
Options defaults(catalogue::MethodId method, int ndim);

// The parameter records of the algorithms.
// An order too large for `unsigned` stays out of range rather than wrapping into it.
inline unsigned order_of(std::uint64_t order) {
    return static_cast<unsigned>(std::min<std::uint64_t>(order, std::numeric_limits<unsigned>::max()));
}

// On spectra with their sample positions x (empty: the index).
inline whittaker::WhittakerParams whittaker_params(const WhittakerRecord& record, std::span<const double> x = {}) {
    return {record.lam[0], record.max_iter, record.tol, order_of(record.diff_order[0]), x};
}

inline pspline::PsplineParams pspline_params(const PsplineRecord& r) {
    return {r.lam[0], r.max_iter, r.tol, r.num_knots[0], r.spline_degree[0], order_of(r.diff_order[0])};
}

inline pspline::two_d::GridPsplineParams grid_pspline_params(const PsplineRecord& r) {
    return {r.lam, r.max_iter, r.tol, r.num_knots, r.spline_degree,
            {order_of(r.diff_order[0]), order_of(r.diff_order[1])}};
}

// On grids with the positions x of the rows and z of the columns (empty: the index).
inline two_d::whittaker::Whittaker2DParams whittaker_2d_params(const WhittakerRecord& record,
                                                                const GridSolverRecord& grid,
                                                                std::span<const double> x = {},
                                                                std::span<const double> z = {}) {
    return {record.lam[0], record.lam[1],  record.lam[0], record.max_iter, record.tol, grid.cg_max_iter,
            grid.cg_tol,   order_of(record.diff_order[0]), order_of(record.diff_order[1]), x, z};
}

// Half windows left to the data (0) take the default for the extent along which they reach.
inline clipping::SnipParams snip_params(const ClippingRecord& record, std::array<std::uint64_t, 2> extents) {
    auto half = record.max_half_window;
    for (std::size_t axis = 0; axis < 2; ++axis) {
        if (half[axis] == 0) half[axis] = clipping::default_max_half_window(extents[axis]);
    }
    return {half, record.decreasing, record.smooth_half_window, record.filter_order, record.lls};
}

inline polynomial::ModpolyParams modpoly_params(const PolynomialRecord& r) {
    return {{r.tol, r.max_iter}, r.use_original, r.mask_initial_peaks, r.num_std};
}

inline polynomial::PenalizedPolyParams penalized_poly_params(const PolynomialRecord& r) {
    return {{r.tol, r.max_iter}, r.cost_function, r.threshold, r.alpha_factor};
}

inline polynomial::GoldindecParams goldindec_params(const PolynomialRecord& r) {
    return {penalized_poly_params(r), r.peak_ratio, r.tol_2, r.tol_3, r.max_iter_2};
}

inline polynomial::LoessParams loess_params(const PolynomialRecord& r) {
    return {r.fraction,          r.total_points,  r.poly_order[0], r.scale,       {r.tol, r.max_iter},
            r.symmetric_weights, r.use_threshold, r.num_std,       r.use_original, r.delta};
}

inline polynomial::QuantRegParams quant_reg_params(const PolynomialRecord& r) {
    return {{r.tol, r.max_iter}, r.quantile, r.eps};
}

inline clipping::RubberbandParams rubberband_params(const ClippingRecord& record) {
    return {record.segments, record.lam, record.diff_order, record.smooth_half_window};
}

// The dispatch gives the median's half window the estimate from the data (a tenth of the extent only where
// the data cannot be estimated, which the fit then refuses); the smoothing half window defaults to the
// median's (on grids the mean of its two, rounded down), sigma to a sixth of the smoothing window. Spectra
// give their length twice.
inline smoothing::NoiseMedianParams noise_median_params(const SmoothingRecord& record,
                                                        std::array<std::uint64_t, 2> extents) {
    std::array<std::uint64_t, 2> halves = record.half_window;
    for (std::size_t axis = 0; axis < 2; ++axis) {
        if (halves[axis] == 0) halves[axis] = std::max<std::uint64_t>(1, extents[axis] / 10);
    }
    const std::uint64_t s = std::isnan(record.smooth_half_window)
                                ? (halves[0] + halves[1]) / 2
                                : static_cast<std::uint64_t>(record.smooth_half_window);
    const double sigma = std::isnan(record.sigma) ? static_cast<double>(2 * s + 1) / 6.0 : record.sigma;
    return {halves, s, sigma};
}

// Sections left to the data are a tenth of the length (at least one); a half window left to it stays 0 for the
// estimate, and lam_smooth None (NaN) is no smoothing.
inline smoothing::PeakFillingParams peak_filling_params(const SmoothingRecord& record, std::uint64_t length) {
    const std::uint64_t sections = record.sections == 0 ? std::max<std::uint64_t>(1, length / 10) : record.sections;
    const double lam = std::isnan(record.lam_smooth) ? 0.0 : record.lam_smooth;
    return {record.half_window[0], sections, record.max_iter, lam};
}

// swima: max_half_window left to the data is (n - 1) / 2, smooth_half_window the length / 50.
inline smoothing::SwimaParams swima_params(const SmoothingRecord& record, std::uint64_t length) {
    const std::uint64_t most = record.max_half_window == 0 ? (length - 1) / 2 : record.max_half_window;
    const std::uint64_t smooth = std::isnan(record.smooth_half_window)
                                     ? length / 50
                                     : static_cast<std::uint64_t>(record.smooth_half_window);
    return {record.min_half_window, most, smooth};
}

enum class Output : std::uint8_t { Baseline, Corrected };

}  // namespace quorvel::dispatch
