// The one table of methods: every list of methods or parameters in the library is read from it.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "method_id.hpp"
#include "parameter.hpp"

namespace quorvel::catalogue {

// What a method is in one dimension (1: spectra, 2: grids).
struct Dimension {
    bool present = false;
    bool fixed = false;          // served with its defaults by the fixed-default module
    std::uint64_t min_used = 0;  // the fewest used samples when a mask leaves some out
    std::span<const Parameter> parameters{};
    bool uses_x = false;         // fits on the caller's sample positions when given; others ignore them
};

struct MethodRow {
    MethodId id;
    std::string_view name;
    std::span<const std::string_view> aliases;
    Family family;
    Dimension one_d, two_d;
    std::span<const std::string_view> fixed_aliases{};  // accepted by the fixed-default module only

    constexpr const Dimension& in(int ndim) const { return ndim == 1 ? one_d : two_d; }
};

namespace rows {

inline constexpr std::string_view max_iter_meaning = "the most reweighting iterations";
inline constexpr std::string_view tol_meaning = "stop once the relative change of the weights is at most this";
inline constexpr Parameter p =
    real("p", 0.01, open_unit, "weight of samples above the baseline; 1 - p below it");

constexpr Parameter lam_of(double fallback) {
    return real("lam", fallback, positive, "smoothing strength λ of the difference penalty (not scaled by length)");
}
inline constexpr Parameter lam_1d = lam_of(1e6);
inline constexpr Parameter max_iter_1d = integer("max_iter", 50, from_one_to(10'000), max_iter_meaning);
inline constexpr Parameter tol_1d = real("tol", 1e-3, non_negative, tol_meaning);
// The schemes after the first three loop as the reference library does: at most max_iter + 1 solves (each
// counts as an iteration), stopping strictly below tol.
inline constexpr std::string_view max_iter_reference_meaning =
    "the cap on reweightings: at most max_iter + 1 solves, each counted as an iteration";
constexpr Parameter max_iter_reference(double most) {
    return integer("max_iter", most, from_one_to(10'000), max_iter_reference_meaning);
}
inline constexpr Parameter tol_below =
    real("tol", 1e-3, non_negative, "stop once the relative change of the weights is below this");
inline constexpr Parameter stop = choice(
    "stop", "weights|residuals",
    "'weights': stop on the relative change of the weights; 'residuals': stop once the negative residuals sum "
    "to at most tol times the sum of |y| (the original airPLS rule)");

inline constexpr Parameter lam_2d =
    real("lam", 1e4, positive, "smoothing strength λ, or a pair (along axis 0, along axis 1)", true);
inline constexpr Parameter max_iter_2d = integer("max_iter", 50, from_one_to(1'000), max_iter_meaning);
inline constexpr Parameter tol_2d = real("tol", 1e-3, positive, tol_meaning);
inline constexpr Parameter cg_tol =
    real("cg_tol", 1e-6, positive, "relative residual at which each conjugate-gradient solve stops");
inline constexpr Parameter cg_max_iter =
    integer("cg_max_iter", 500, from_one_to(10'000), "the most conjugate-gradient steps per solve");
inline constexpr Parameter solver = choice(
    "solver", "cg|multigrid",
    "'cg': a banded Cholesky solve for grids of at most 512 points and 32 columns, plain conjugate gradients "
    "otherwise; 'multigrid': conjugate gradients preconditioned by multigrid, the same stopping rule in a few "
    "dozen steps instead of hundreds (far faster on large grids, other rounding)");

inline constexpr Parameter diff_order =
    integer("diff_order", 2, from_one_to(3), "order of the differences the penalty takes");
inline constexpr Parameter diff_order_from_2 =
    integer("diff_order", 2, from_to(2, 3), "order of the differences the penalty takes (the method's own penalty "
                                            "takes the first differences)");
inline constexpr Parameter diff_order_2d =
    integer("diff_order", 2, from_one_to(3),
            "order of the differences the penalty takes, or a pair (along axis 0, along axis 1)", true);
inline constexpr Parameter diff_order_from_2_2d =
    integer("diff_order", 2, from_to(2, 3),
            "order of the differences the penalty takes, or a pair (along axis 0, along axis 1); the method's own "
            "penalty takes the first differences",
            true);
inline constexpr Parameter lam_1e5 = lam_of(1e5);
inline constexpr Parameter p_half = real("p", 0.5, open_unit, p.meaning);
inline constexpr Parameter k = from_data(
    ValueKind::Real, "k", positive,
    "how fast the weight decays above the baseline, about the height from which a sample counts as a peak; "
    "None: a tenth of the data's standard deviation");

inline constexpr std::array asls_1d{lam_1d, p, max_iter_1d, tol_1d, diff_order};
inline constexpr std::array arpls_1d{lam_1d, max_iter_1d, tol_1d, diff_order};
inline constexpr std::array airpls_1d{lam_1d, max_iter_1d, tol_1d, stop, diff_order};
inline constexpr std::string_view lam_1_meaning = "strength of the penalty on the first differences of the residual";
inline constexpr std::array iasls_1d{lam_1d, p, real("lam_1", 1e-4, non_negative, lam_1_meaning),
                                     max_iter_reference(50), tol_below, diff_order_from_2};
inline constexpr std::array drpls_1d{
    lam_1e5,
    real("eta", 0.5, unit, "how far the weights relax the penalty at the baseline's samples: low values smooth more"),
    max_iter_reference(50), tol_below, diff_order_from_2};
inline constexpr std::array iarpls_1d{lam_1e5, diff_order, max_iter_reference(50), tol_below};
inline constexpr std::array aspls_1d{
    lam_1e5, diff_order, max_iter_reference(100), tol_below,
    from_data(ValueKind::Samples, "alpha", non_negative,
              "the first iteration's scale of the penalty at each sample; None: 1 everywhere"),
    real("asymmetric_coef", 0.5, positive, "steepness of the logistic weighting; larger is more step-like")};
inline constexpr std::array psalsa_1d{lam_1e5, p_half, k, diff_order, max_iter_reference(50), tol_below};
inline constexpr std::array derpsalsa_1d{
    lam_1d, p, k, diff_order, max_iter_reference(50), tol_below,
    from_data(ValueKind::Integer, "smooth_half_window", at_least_one,
              "half window of the moving averages before the derivatives; None: the length / 200"),
    integer("num_smooths", 16, from_one_to(1'000), "how many moving averages smooth the data before the derivatives")};
inline constexpr std::array brpls_1d{
    lam_1e5, diff_order, max_iter_reference(50),
    real("tol", 1e-3, non_negative, "stop each inner loop once the relative change of the baseline is below this"),
    integer("max_iter_2", 50, from_one_to(10'000), "the most updates of the share of the data taken by peaks"),
    real("tol_2", 1e-3, non_negative, "stop once the share of the data taken by peaks changes by less than this")};
inline constexpr std::array lsrpls_1d{lam_1e5, diff_order, max_iter_reference(50), tol_below};
inline constexpr std::array asls_2d{lam_2d, p, max_iter_2d, tol_2d, diff_order_2d, cg_tol, cg_max_iter, solver};
inline constexpr std::array arpls_2d{lam_2d, max_iter_2d, tol_2d, diff_order_2d, cg_tol, cg_max_iter, solver};

// The grid methods added since follow the reference library's loop and solve by multigrid unless told.
constexpr Parameter lam_2d_of(double fallback) { return real("lam", fallback, positive, lam_2d.meaning, true); }
inline constexpr Parameter solver_multigrid = choice("solver", "multigrid|cg", solver.meaning);
inline constexpr std::array airpls_2d{
    lam_2d_of(1e6), max_iter_2d,
    real("tol", 1e-3, positive, "stop once the negative residuals sum to less than this share of the sum of |data|"),
    diff_order_2d, cg_tol, cg_max_iter, solver_multigrid};
inline constexpr std::array iarpls_2d{lam_2d_of(1e5), max_iter_2d,  tol_2d, diff_order_2d,
                                      cg_tol,         cg_max_iter, solver_multigrid};
inline constexpr std::array aspls_2d{
    lam_2d_of(1e5), integer("max_iter", 100, from_one_to(1'000), max_iter_meaning), tol_2d, aspls_1d[4],
    aspls_1d[5], diff_order_2d, cg_tol, cg_max_iter, solver_multigrid};
inline constexpr std::array psalsa_2d{lam_2d_of(1e5), p_half, k, max_iter_2d, tol_2d, diff_order_2d, cg_tol,
                                      cg_max_iter, solver_multigrid};
inline constexpr std::array brpls_2d{
    lam_2d_of(1e3), max_iter_2d,
    real("tol", 1e-3, positive, "stop each inner loop once the relative change of the baseline is below this"),
    integer("max_iter_2", 50, from_one_to(1'000), brpls_1d[4].meaning), brpls_1d[5], diff_order_2d, cg_tol,
    cg_max_iter, solver_multigrid};
inline constexpr std::array iasls_2d{
    lam_2d_of(1e6), p, real("lam_1", 1e-4, non_negative, "strength of the penalty on the first differences of the "
                                                           "residual, or a pair (along axis 0, along axis 1)", true),
    max_iter_2d, tol_2d, diff_order_from_2_2d, cg_tol, cg_max_iter, solver_multigrid};
inline constexpr std::array drpls_2d{
    lam_2d_of(1e5), drpls_1d[1], max_iter_2d, tol_2d, diff_order_from_2_2d,
    real("cg_tol", 1e-7, positive,
         "relative residual at which each solve stops (tighter than the others': the steepening weights magnify "
         "each solve's error)"),
    integer("cg_max_iter", 500, from_one_to(10'000), "the most steps per solve (each two products of the system)"),
    choice("solver", "multigrid|cg",
           "its system is unsymmetric: 'multigrid': BiCGSTAB preconditioned by a multigrid cycle of a symmetric "
           "system near it; 'cg': BiCGSTAB without a preconditioner (far slower on large grids)")};
inline constexpr std::array lsrpls_2d{lam_2d_of(1e3), max_iter_2d,  tol_2d, diff_order_2d,
                                      cg_tol,         cg_max_iter, solver_multigrid};

// The morphological methods share their window; the rolling ball's moving average costs it at every sample,
// tophat's openings cost the same at any window.
constexpr Parameter given_window_1d(DataCheck check) {
    return integer("half_window", 15, at_least_one, "half-width h of the window of 2h + 1 samples", false, check);
}
constexpr Parameter given_window_2d(DataCheck check) {
    return integer("half_window", 3, at_least_one,
                   "half-width h of the window of 2h + 1 samples per axis, or a pair (axis 0, axis 1)", true, check);
}
inline constexpr std::array window_1d{given_window_1d(DataCheck::Window)};
inline constexpr std::array window_2d{given_window_2d(DataCheck::Window)};
inline constexpr std::array tophat_1d{given_window_1d(DataCheck::Extent)};
inline constexpr std::array tophat_2d{given_window_2d(DataCheck::Extent)};
// mor and imor decide their window from the data unless told (see morphology/window_estimate.hpp); openings cost
// the same at any window.
inline constexpr std::string_view estimated_window_meaning =
    "half-width h of the window of 2h + 1 samples; None: the smallest h whose opening the next three windows each "
    "change by less than 1e-6 of its norm (or, failing that, the largest window tried, below half the length)";
constexpr Parameter estimated_window(bool per_axis, std::string_view meaning) {
    return {"half_window", ValueKind::Integer, std::numeric_limits<double>::quiet_NaN(), {}, at_least_one, per_axis,
            DataCheck::Extent, meaning};
}
inline constexpr std::array mor_1d{estimated_window(false, estimated_window_meaning)};
inline constexpr std::array mor_2d{estimated_window(
    true, "half-width h of the window of 2h + 1 samples per axis, or a pair (axis 0, axis 1); None: one h for both "
          "axes, the smallest whose opening the next three square windows each change by less than 1e-6 of its "
          "norm (or, failing that, the largest window tried, below half the columns, as pybaselines)")};
inline constexpr Parameter tol_baseline =
    real("tol", 1e-3, non_negative, "stop once the relative change of the baseline is below this");
inline constexpr std::array imor_1d{mor_1d[0], tol_baseline, max_iter_reference(200)};
inline constexpr std::array mormol_1d{
    mor_1d[0], tol_baseline, max_iter_reference(250),
    from_data(ValueKind::Integer, "smooth_half_window", at_least_one,
              "half window of the mollifier that smooths the data minus the baseline before each erosion; None: "
              "no smoothing")};
inline constexpr std::array imor_2d{mor_2d[0], tol_baseline, max_iter_reference(200)};
inline constexpr std::array polynomial_1d{integer("poly_order", 2, from_zero_to(20),
                                                  "degree of the least-squares polynomial", false,
                                                  DataCheck::PolyOrder)};
inline constexpr Parameter poly_order =
    integer("poly_order", 2, from_zero_to(20), "degree of the polynomial", false, DataCheck::PolyOrder);
inline constexpr Parameter poly_tol = real("tol", 1e-3, non_negative, "stop once the relative change is below this");
inline constexpr Parameter poly_max_iter = integer("max_iter", 250, from_one_to(10'000), "the most iterations");
inline constexpr Parameter use_original = flag(
    "use_original", false, "clip the original data at each fit instead of the previous iteration's clipped data");
constexpr Parameter mask_initial_peaks(bool fallback) {
    return flag("mask_initial_peaks", fallback,
                "leave out of every fit the samples above the first fit plus its residuals' standard deviation");
}
inline constexpr Parameter poly_order_2d = integer(
    "poly_order", 2, from_zero_to(10), "degree along each axis, or a pair (axis 0, axis 1)", true,
    DataCheck::PolyOrder);
inline constexpr Parameter max_cross =
    from_data(ValueKind::Integer, "max_cross", non_negative,
              "cross terms T_a(x) T_b(z) (a, b > 0) only up to this degree along both axes; None: all");
inline constexpr Parameter num_std =
    real("num_std", 1.0, non_negative, "clip the data at the fit plus this many standard deviations of the residuals");
inline constexpr Parameter cost_function =
    choice("cost_function",
           "asymmetric_truncated_quadratic|symmetric_truncated_quadratic|asymmetric_huber|symmetric_huber|"
           "asymmetric_indec|symmetric_indec",
           "the cost of the residuals beyond threshold: constant (truncated quadratic), linear (Huber) or falling "
           "as 1 / r (indec), for residuals above it (asymmetric) or of either sign (symmetric)");
inline constexpr Parameter threshold =
    from_data(ValueKind::Real, "threshold", positive,
              "the residual where the cost leaves the quadratic; None: a tenth of the data's standard deviation");
inline constexpr Parameter alpha_factor =
    real("alpha_factor", 0.99, {0.0, 1.0, true, false}, "twice the half-quadratic's α; rarely changed");
inline constexpr Parameter quantile = real("quantile", 0.05, open_unit, "the quantile of the data the polynomial follows");
inline constexpr Parameter quant_reg_tol = real("tol", 1e-6, non_negative, "stop once the relative change is below this");
inline constexpr Parameter eps =
    from_data(ValueKind::Real, "eps", positive,
              "added to the squared residuals in the weights; None: (1e-6 max |fit|)² each iteration");
inline constexpr std::array poly_1d{poly_order};
inline constexpr std::array modpoly_1d{poly_order, poly_tol, poly_max_iter, use_original, mask_initial_peaks(false)};
inline constexpr std::array imodpoly_1d{poly_order,           poly_tol, poly_max_iter, use_original,
                                        mask_initial_peaks(true), num_std};
inline constexpr std::array penalized_poly_1d{poly_order, poly_tol, poly_max_iter, cost_function, threshold,
                                              alpha_factor};
inline constexpr std::array goldindec_1d{
    poly_order, real("tol", 1e-3, non_negative, "stop each threshold's fit once its relative change is below this"),
    integer("max_iter", 250, from_one_to(10'000), "the most iterations of each threshold's fit"),
    choice("cost_function", "asymmetric_indec|asymmetric_truncated_quadratic|asymmetric_huber",
           "the cost of the residuals above the threshold: falling as 1 / r (indec), constant (truncated "
           "quadratic) or linear (Huber)"),
    real("peak_ratio", 0.5, open_unit, "the share of the samples the peaks take; right within about a tenth"),
    alpha_factor,
    real("tol_2", 1e-3, non_negative,
         "stop once the ratio of samples above to below the baseline is within this of the one peak_ratio asks for"),
    real("tol_3", 1e-6, non_negative, "stop once the threshold's relative change is below this"),
    integer("max_iter_2", 100, from_one_to(10'000), "the most thresholds tried")};
inline constexpr std::array quant_reg_1d{poly_order, quantile, quant_reg_tol, poly_max_iter, eps};
inline constexpr std::array loess_1d{
    real("fraction", 0.2, {0.0, 1.0, true, false}, "the share of the samples in each local fit"),
    from_data(ValueKind::Integer, "total_points", at_least_one,
              "the samples in each local fit, instead of fraction; None: ceil(fraction n)"),
    integer("poly_order", 1, from_zero_to(10), "degree of each local polynomial", false, DataCheck::PolyOrder),
    real("scale", 3.0, positive, "the robustness weights vanish at this many of the residuals' scaled MADs"),
    poly_tol, integer("max_iter", 10, from_one_to(10'000), "the most reweightings: at most max_iter + 1 fits"),
    flag("symmetric_weights", false, "Cleveland's robustness weights; False: samples below the fit weigh 1"),
    flag("use_threshold", false, "clip the data at the fit plus num_std deviations instead of reweighting"),
    num_std, use_original,
    flag("conserve_memory", true, "accepted for the reference library's calls; quorvel never caches the kernels"),
    from_data(ValueKind::Real, "delta", non_negative,
              "fit only samples this far apart on x, the rest by straight lines; None: 1 % of x's range")};
inline constexpr std::array poly_2d{poly_order_2d, max_cross};
inline constexpr std::array modpoly_2d{poly_order_2d, poly_tol,  poly_max_iter, use_original, mask_initial_peaks(false),
                                       max_cross};
inline constexpr std::array imodpoly_2d{poly_order_2d, poly_tol, poly_max_iter, use_original, mask_initial_peaks(true),
                                        num_std,       max_cross};
inline constexpr std::array penalized_poly_2d{poly_order_2d, poly_tol,  poly_max_iter, cost_function,
                                              threshold,     alpha_factor, max_cross};
inline constexpr std::array quant_reg_2d{poly_order_2d, quantile, quant_reg_tol, poly_max_iter, eps, max_cross};
inline constexpr std::array polynomial_2d{integer("poly_order", 2, from_zero_to(5),
                                                  "highest power of each coordinate in the surface's terms", false,
                                                  DataCheck::PolyOrder)};

// The clipping family: SNIP and the rubber band.
inline constexpr std::string_view lls_meaning =
    "clip log(log(sqrt(y + 1) + 1) + 1) of the data (at least -1) and map the baseline back, for data spanning "
    "decades (Morháč et al. 1997; an extension of quorvel's)";
inline constexpr Parameter decreasing = flag(
    "decreasing", false,
    "clip with half windows from the largest down to 1 instead of up from 1: a smoother baseline (Morháč & "
    "Matoušek 2008)");
inline constexpr Parameter smooth_half_window_none =
    from_data(ValueKind::Integer, "smooth_half_window", non_negative,
              "half window of the moving average of each pass, for noisy data; None or 0: no smoothing");
inline constexpr std::array snip_1d{
    window_from_data("max_half_window",
                     "the largest half window of the clipping passes, about (w - 1) / 2 for peaks w samples wide, "
                     "or a pair (left, right) for asymmetric peaks; None: estimated from the data. Cost: one pass "
                     "per half window, O(n max_half_window filter_order)"),
    decreasing, smooth_half_window_none,
    integer("filter_order", 2, from_to(2, 8),
            "order of the clipping filter, 2, 4, 6 or 8; the higher follow curved baselines such as Compton edges "
            "(Morháč & Matoušek 2008)"),
    flag("lls", false, lls_meaning)};
inline constexpr std::array snip_2d{
    window_from_data("max_half_window",
                     "the largest half window of the clipping passes per axis, or a pair (axis 0, axis 1); None: "
                     "(n - 1) / 2 along each axis, at most 1000. Cost: O(points max_half_window)"),
    decreasing, flag("lls", false, lls_meaning)};
inline constexpr std::array rubberband_1d{
    integer("segments", 1, at_least_one, "how many equal segments each get their own lower convex hull"),
    from_data(ValueKind::Real, "lam", non_negative,
              "smoothing strength λ of a Whittaker smooth through the hull's vertices; None or 0: straight lines "
              "between them"),
    integer("diff_order", 2, from_one_to(3), "order of the differences the smooth's penalty takes (with lam)"),
    from_data(ValueKind::Integer, "smooth_half_window", non_negative,
              "half window of a moving average of the data before the hull, for noisy data; None or 0: none")};

// The smoothing family: model-free filters of the data.
// None: twice the window the data's openings settle at, as the reference library; a pair per axis on grids.
constexpr Parameter median_half_window(bool per_axis, std::string_view meaning) {
    return {"half_window", ValueKind::Integer, std::numeric_limits<double>::quiet_NaN(), {}, at_least_one,
            per_axis, DataCheck::Window, meaning};
}
inline constexpr Parameter sigma = from_data(
    ValueKind::Real, "sigma", positive,
    "standard deviation of the smoothing Gaussian, in samples; None: (2 smooth_half_window + 1) / 6");
inline constexpr std::array noise_median_1d{
    median_half_window(false, "half-width h of the median's window of 2h + 1 samples, wider than the peaks; None: "
                              "twice the window estimated from the data, as for mor. Cost: sorted blocks, O(n log h) "
                              "(O(n h) vectorised comparisons up to h = 127)"),
    from_data(ValueKind::Integer, "smooth_half_window", non_negative,
              "half window of the Gaussian smoothing of the median, 2s + 1 taps; None: half_window"),
    sigma};
inline constexpr std::array noise_median_2d{
    median_half_window(true, "half-width h of the median's window of 2h + 1 samples per axis, or a pair (axis 0, "
                             "axis 1), wider than the peaks; None: twice the median of the windows estimated along "
                             "each line. Cost: a sorted window slid along the rows, 2 h0 + 1 exchanges per point"),
    from_data(ValueKind::Integer, "smooth_half_window", non_negative,
              "half window of the Gaussian smoothing of the median along each axis; None: the mean of the two "
              "half windows, rounded down"),
    sigma};

// peak_filling, corner_cutting and mwmv.
inline constexpr std::array peak_filling_1d{
    from_data(ValueKind::Integer, "half_window", at_least_one,
              "half-width of the first moving mean over the subsampled values, shrinking to 1 over the iterations "
              "(at most (sections - 1) / 2 counts); None: twice the window the subsampled values' openings settle "
              "at"),
    from_data(ValueKind::Integer, "sections", at_least_one,
              "how many equal runs of samples are each represented by their minimum; more for curved baselines; "
              "None: the length / 10"),
    integer("max_iter", 5, from_one_to(10'000), "how many sweeps up and down suppress the peaks"),
    from_data(ValueKind::Real, "lam_smooth", non_negative,
              "smoothing strength λ of a Whittaker smooth of the data first; None or 0: no smoothing")};
inline constexpr std::array corner_cutting_1d{
    integer("max_iter", 100, from_one_to(100'000),
            "the most iterations, each removing every sample above the line between its neighbours")};
inline constexpr std::array mwmv_1d{
    mor_1d[0],
    from_data(ValueKind::Integer, "smooth_half_window", non_negative,
              "half window of the moving average of the minimum, 2s + 1 samples; None: half_window; 0: none")};

inline constexpr std::array interp_pts_1d{
    from_data(ValueKind::Points, "baseline_points", {},
              "the (x, y) points the baseline passes through, an array of shape (L, 2), x on the data's x (its "
              "indices without one); samples outside their x range get 0; None: no points, a baseline of 0"),
    choice("interp_method", "linear|nearest|previous|next|cubic",
           "how to join the points: straight lines, the nearest, previous or next point's y, or the not-a-knot "
           "cubic spline (at least 4 points), as scipy.interpolate.interp1d")};
// mpls: the morphological window, then one weighted smooth.
inline constexpr std::array mpls_1d{
    mor_1d[0], lam_1d,
    real("p", 0.0, unit, "weight of the samples that are not anchors; 1 - p at the anchors"), diff_order};
// jbcd: the baseline near the opening and the signal, each smoothed, by alternating solves.
inline constexpr std::array jbcd_1d{
    mor_1d[0], real("alpha", 0.1, non_negative, "how closely the baseline keeps to the opening"),
    real("beta", 10.0, non_negative, "smoothness of the baseline: the first pass's weight of its difference penalty"),
    real("gamma", 1.0, non_negative, "smoothness of the signal: the first pass's weight of its difference penalty"),
    real("beta_mult", 1.1, positive, "what multiplies beta after each pass"),
    real("gamma_mult", 0.909, positive, "what multiplies gamma after each pass"),
    integer("diff_order", 1, from_one_to(3), diff_order.meaning), max_iter_reference(20),
    real("tol", 1e-2, non_negative, "stop once the signal's relative change is below this and the baseline's below "
                                    "tol_2"),
    real("tol_2", 1e-3, non_negative, "stop once the baseline's relative change is below this and the signal's "
                                      "below tol"),
    flag("robust_opening", true, "start from mor's opening, min(o, mean of o's erosion and dilation), instead of "
                                 "the plain opening o")};

inline constexpr std::array ipsa_1d{
    median_half_window(false, "half-width h of the quadratic smoothing's window of 2h + 1 samples, about the "
                              "peaks' full width at half maximum; None: four times the window estimated from the "
                              "data, as for mor"),
    max_iter_reference(500), tol_baseline};
inline constexpr std::array swima_1d{
    integer("min_half_window", 3, at_least_one,
            "the smallest half window whose pass may be the baseline; larger skips early stops on noisy data"),
    Parameter{"max_half_window", ValueKind::Integer, std::numeric_limits<double>::quiet_NaN(), {}, at_least_one,
              false, DataCheck::Window, "the most passes, and the samples added at each end; None: (length - 1) / 2"},
    from_data(ValueKind::Integer, "smooth_half_window", non_negative,
              "half window of a moving average of the data before the passes; None: the length / 50; 0: none")};
inline constexpr std::array ria_1d{
    median_half_window(false, "half-width h of the moving average's window of 2h + 1 samples, about the peaks' "
                              "full width at half maximum; None: the window estimated from the data, as for mor"),
    integer("max_iter", 500, from_one_to(10'000), "the most passes of the moving average"),
    real("tol", 1e-2, non_negative, "stop once the added peaks keep less than this share of their area"),
    choice("side", "both|left|right", "the ends of the data that get an added peak"),
    real("width_scale", 0.1, positive, "samples added at each extended end, as a share of the data's length"),
    real("height_scale", 1.0, positive, "height of each added peak, as a share of the data's largest value"),
    real("sigma_scale", 1.0 / 12.0, positive,
         "standard deviation of each added peak, as a share of the samples added")};

// The P-splines: Eilers & Marx's penalised B-splines reweighted by a Whittaker method's rule, in the reference
// library's loop.
constexpr Parameter lam_spline_of(double fallback) {
    return real("lam", fallback, positive,
                "smoothing strength λ of the difference penalty on the spline's coefficients (carries over between "
                "lengths)");
}
inline constexpr Parameter lam_spline = lam_spline_of(1e3);
inline constexpr Parameter num_knots =
    integer("num_knots", 100, Interval{2.0, unbounded, false, true},
            "evenly spaced knots over x: at least 2 and spline_degree + 1, at most the number of samples");
inline constexpr Parameter spline_degree = integer("spline_degree", 3, from_zero_to(5), "degree of the B-splines");
inline constexpr Parameter spline_diff_order =
    integer("diff_order", 2, from_one_to(3), "order of the differences the penalty takes of the coefficients");
inline constexpr std::array pspline_asls_1d{lam_spline, p, num_knots, spline_degree, spline_diff_order,
                                            max_iter_reference(50), tol_below};
inline constexpr std::array pspline_arpls_1d{lam_spline, num_knots, spline_degree, spline_diff_order,
                                             max_iter_reference(50), tol_below};
inline constexpr std::array pspline_airpls_1d{
    lam_spline, num_knots, spline_degree, spline_diff_order, max_iter_reference(50),
    real("tol", 1e-3, non_negative, "stop once the negative residuals sum to less than this share of the sum of |y|")};
inline constexpr std::array pspline_iarpls_1d{lam_spline, num_knots, spline_degree, spline_diff_order,
                                              max_iter_reference(50), tol_below};
inline constexpr std::array pspline_psalsa_1d{lam_spline, p_half, k, num_knots, spline_degree, spline_diff_order,
                                              max_iter_reference(50), tol_below};
inline constexpr std::array pspline_derpsalsa_1d{
    lam_spline_of(1e2), p, k, num_knots, spline_degree, spline_diff_order, max_iter_reference(50), tol_below,
    derpsalsa_1d[6], derpsalsa_1d[7]};
inline constexpr std::array pspline_lsrpls_1d{lam_spline, num_knots, spline_degree, spline_diff_order,
                                              max_iter_reference(50), tol_below};
inline constexpr std::array pspline_brpls_1d{lam_spline, num_knots, spline_degree, spline_diff_order,
                                             max_iter_reference(50), brpls_1d[3], brpls_1d[4], brpls_1d[5]};
inline constexpr Parameter spline_diff_order_from_2 =
    integer("diff_order", 2, from_to(2, 3),
            "order of the differences the penalty takes of the coefficients (the method's own penalty takes the "
            "first differences)");
inline constexpr std::array pspline_drpls_1d{lam_spline, drpls_1d[1], num_knots, spline_degree,
                                             spline_diff_order_from_2, max_iter_reference(50), tol_below};
inline constexpr std::array pspline_iasls_1d{lam_spline_of(1e1), p, iasls_1d[2], num_knots, spline_degree,
                                             max_iter_reference(50), tol_below, spline_diff_order_from_2};
// pspline_mpls: mpls' anchors, then one penalised spline through them.
inline constexpr std::array pspline_mpls_1d{mor_1d[0], lam_spline, mpls_1d[2], num_knots, spline_degree,
                                            spline_diff_order};
inline constexpr std::array pspline_aspls_1d{lam_spline_of(1e4), num_knots, spline_degree, spline_diff_order,
                                             max_iter_reference(100), tol_below, aspls_1d[4], aspls_1d[5]};

// The spline-only methods: de Rooi & Eilers' mixture model and Han et al.'s IRSQR.
inline constexpr std::array mixture_model_1d{
    lam_spline_of(1e5),
    real("p", 0.01, open_unit, "weight of samples above the two starting fits; 1 - p below them"), num_knots,
    spline_degree, integer("diff_order", 3, from_one_to(3), spline_diff_order.meaning), max_iter_reference(50),
    tol_below,
    flag("symmetric", false, "peaks of either sign: a second uniform distribution over the negative residuals"),
    from_data(ValueKind::Integer, "num_bins", at_least_one,
              "accepted for the reference library's calls (deprecated there); the EM reads every residual, no "
              "histogram")};
inline constexpr std::array irsqr_1d{
    lam_spline_of(1e2), real("quantile", 0.05, open_unit, "the quantile of the data the spline follows"), num_knots,
    spline_degree, integer("diff_order", 3, from_one_to(3), spline_diff_order.meaning), max_iter_reference(100),
    real("tol", 1e-6, non_negative, "stop once the relative change of the spline's coefficients is below this"),
    eps};

// Their grid forms, as the reference library has them: each spline's count, degree, order and smoothing one value
// for both axes or a pair.
constexpr Parameter lam_spline_2d(double fallback) {
    return real("lam", fallback, positive,
                "smoothing strength λ of the difference penalty on the spline's coefficients, or a pair (along axis "
                "0, along axis 1)",
                true);
}
inline constexpr Parameter num_knots_2d =
    integer("num_knots", 25, Interval{2.0, unbounded, false, true},
            "evenly spaced knots over each axis, or a pair (axis 0, axis 1): at least 2 and spline_degree + 1, at "
            "most the points along the axis",
            true);
inline constexpr Parameter spline_degree_2d =
    integer("spline_degree", 3, from_zero_to(5), "degree of the B-splines, or a pair (axis 0, axis 1)", true);
constexpr Parameter spline_diff_order_2d(double fallback) {
    return integer("diff_order", fallback, from_one_to(3),
                   "order of the differences the penalty takes of the coefficients, or a pair (along axis 0, along "
                   "axis 1)",
                   true);
}
inline constexpr Parameter spline_order_2d = spline_diff_order_2d(2);
inline constexpr std::array pspline_asls_2d{lam_spline_2d(1e3), p, num_knots_2d, spline_degree_2d, spline_order_2d,
                                            max_iter_reference(50), tol_below};
inline constexpr std::array pspline_arpls_2d{lam_spline_2d(1e3), num_knots_2d, spline_degree_2d, spline_order_2d,
                                             max_iter_reference(50), tol_below};
inline constexpr std::array pspline_airpls_2d{
    lam_spline_2d(1e3), num_knots_2d, spline_degree_2d, spline_order_2d, max_iter_reference(50),
    real("tol", 1e-3, non_negative,
         "stop once the negative residuals sum to less than this share of the sum of |data|")};
inline constexpr std::array pspline_psalsa_2d{lam_spline_2d(1e3), p_half, k, num_knots_2d, spline_degree_2d,
                                              spline_order_2d, max_iter_reference(50), tol_below};
inline constexpr std::array pspline_brpls_2d{lam_spline_2d(1e3), num_knots_2d, spline_degree_2d, spline_order_2d,
                                             max_iter_reference(50), brpls_1d[3], brpls_1d[4], brpls_1d[5]};
inline constexpr std::array pspline_iasls_2d{
    lam_spline_2d(1e3), p, iasls_2d[2], num_knots_2d, spline_degree_2d, max_iter_reference(50), tol_below,
    integer("diff_order", 2, from_to(2, 3),
            "order of the differences the penalty takes of the coefficients, or a pair (along axis 0, along axis "
            "1); the method's own penalty takes the first differences",
            true)};
inline constexpr std::array mixture_model_2d{lam_spline_2d(1e3), mixture_model_1d[1], num_knots_2d, spline_degree_2d,
                                             spline_diff_order_2d(3), max_iter_reference(50), tol_below,
                                             mixture_model_1d[7]};
inline constexpr std::array irsqr_2d{lam_spline_2d(1e3), irsqr_1d[1], num_knots_2d, spline_degree_2d,
                                     spline_diff_order_2d(3), max_iter_reference(100), irsqr_1d[6], irsqr_1d[7]};

inline constexpr std::array<std::string_view, 0> no_aliases{};
inline constexpr std::array<std::string_view, 1> rolling_ball_aliases{"rolling-ball"};
inline constexpr std::array<std::string_view, 1> polynomial_aliases{"poly"};

}  // namespace rows

// Two used samples pin down the straight line a second-difference penalty tends to, four the
// bilinear surface of its grid form (a third-order grid penalty asks for nine, which the fit checks); the other
// methods need one.
inline constexpr std::array<MethodRow, 51> table{{
    {MethodId::Asls, "asls", rows::no_aliases, Family::Whittaker,
     {true, true, 2, rows::asls_1d, true}, {true, true, 4, rows::asls_2d, true}},
    {MethodId::ArPls, "arpls", rows::no_aliases, Family::Whittaker,
     {true, true, 2, rows::arpls_1d, true}, {true, true, 4, rows::arpls_2d, true}},
    {MethodId::AirPls, "airpls", rows::no_aliases, Family::Whittaker,
     {true, true, 2, rows::airpls_1d, true}, {true, false, 4, rows::airpls_2d, true}},
    {MethodId::RollingBall, "rolling_ball", rows::rolling_ball_aliases, Family::Morphology,
     {true, true, 1, rows::window_1d}, {true, true, 1, rows::window_2d}},
    {MethodId::Polynomial, "polynomial", rows::no_aliases, Family::Polynomial,
     {true, true, 1, rows::polynomial_1d, true}, {true, true, 1, rows::polynomial_2d, true},
     rows::polynomial_aliases},
    {MethodId::Tophat, "tophat", rows::no_aliases, Family::Morphology,
     {true, false, 1, rows::tophat_1d}, {true, false, 1, rows::tophat_2d}},
    {MethodId::Iasls, "iasls", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::iasls_1d, true},
     {true, false, 4, rows::iasls_2d, true}},
    {MethodId::DrPls, "drpls", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::drpls_1d, true},
     {true, false, 4, rows::drpls_2d, true}},
    {MethodId::IarPls, "iarpls", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::iarpls_1d, true},
     {true, false, 4, rows::iarpls_2d, true}},
    {MethodId::AsPls, "aspls", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::aspls_1d, true},
     {true, false, 4, rows::aspls_2d, true}},
    {MethodId::Psalsa, "psalsa", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::psalsa_1d, true},
     {true, false, 4, rows::psalsa_2d, true}},
    {MethodId::DerPsalsa, "derpsalsa", rows::no_aliases, Family::Whittaker,
     {true, false, 2, rows::derpsalsa_1d, true}, {}},
    {MethodId::BrPls, "brpls", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::brpls_1d, true},
     {true, false, 4, rows::brpls_2d, true}},
    {MethodId::LsrPls, "lsrpls", rows::no_aliases, Family::Whittaker, {true, false, 2, rows::lsrpls_1d, true},
     {true, false, 4, rows::lsrpls_2d, true}},
    {MethodId::Snip, "snip", rows::no_aliases, Family::Clipping, {true, false, 1, rows::snip_1d},
     {true, false, 1, rows::snip_2d}},
    {MethodId::Rubberband, "rubberband", rows::no_aliases, Family::Clipping,
     {true, false, 1, rows::rubberband_1d, true}, {}},
    {MethodId::Mor, "mor", rows::no_aliases, Family::Morphology, {true, false, 1, rows::mor_1d},
     {true, false, 1, rows::mor_2d}},
    {MethodId::Imor, "imor", rows::no_aliases, Family::Morphology, {true, false, 1, rows::imor_1d},
     {true, false, 1, rows::imor_2d}},
    {MethodId::Amormol, "amormol", rows::no_aliases, Family::Morphology, {true, false, 1, rows::imor_1d}, {}},
    {MethodId::Mormol, "mormol", rows::no_aliases, Family::Morphology, {true, false, 1, rows::mormol_1d}, {}},
    {MethodId::NoiseMedian, "noise_median", rows::no_aliases, Family::Smoothing,
     {true, false, 1, rows::noise_median_1d}, {true, false, 1, rows::noise_median_2d}},
    {MethodId::Poly, "poly", rows::no_aliases, Family::Polynomial, {true, false, 1, rows::poly_1d, true},
     {true, false, 1, rows::poly_2d, true}},
    {MethodId::Modpoly, "modpoly", rows::no_aliases, Family::Polynomial, {true, false, 1, rows::modpoly_1d, true},
     {true, false, 1, rows::modpoly_2d, true}},
    {MethodId::Imodpoly, "imodpoly", rows::no_aliases, Family::Polynomial, {true, false, 1, rows::imodpoly_1d, true},
     {true, false, 1, rows::imodpoly_2d, true}},
    {MethodId::PenalizedPoly, "penalized_poly", rows::no_aliases, Family::Polynomial,
     {true, false, 1, rows::penalized_poly_1d, true}, {true, false, 1, rows::penalized_poly_2d, true}},
    {MethodId::QuantReg, "quant_reg", rows::no_aliases, Family::Polynomial, {true, false, 1, rows::quant_reg_1d, true},
     {true, false, 1, rows::quant_reg_2d, true}},
    {MethodId::Loess, "loess", rows::no_aliases, Family::Polynomial, {true, false, 2, rows::loess_1d, true}, {}},
    {MethodId::PeakFilling, "peak_filling", rows::no_aliases, Family::Smoothing,
     {true, false, 1, rows::peak_filling_1d}, {}},
    {MethodId::CornerCutting, "corner_cutting", rows::no_aliases, Family::Clipping,
     {true, false, 1, rows::corner_cutting_1d, true}, {}},
    {MethodId::Mwmv, "mwmv", rows::no_aliases, Family::Morphology, {true, false, 1, rows::mwmv_1d}, {}},
    {MethodId::InterpPts, "interp_pts", rows::no_aliases, Family::Clipping,
     {true, false, 1, rows::interp_pts_1d, true}, {}},
    {MethodId::Mpls, "mpls", rows::no_aliases, Family::Morphology, {true, false, 1, rows::mpls_1d}, {}},
    {MethodId::Jbcd, "jbcd", rows::no_aliases, Family::Morphology, {true, false, 1, rows::jbcd_1d}, {}},
    {MethodId::Ipsa, "ipsa", rows::no_aliases, Family::Smoothing, {true, false, 1, rows::ipsa_1d}, {}},
    {MethodId::Ria, "ria", rows::no_aliases, Family::Smoothing, {true, false, 1, rows::ria_1d}, {}},
    {MethodId::PsplineAsls, "pspline_asls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_asls_1d, true},
     {true, false, 4, rows::pspline_asls_2d, true}},
    {MethodId::PsplineArPls, "pspline_arpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_arpls_1d, true},
     {true, false, 4, rows::pspline_arpls_2d, true}},
    {MethodId::PsplineAirPls, "pspline_airpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_airpls_1d, true},
     {true, false, 4, rows::pspline_airpls_2d, true}},
    {MethodId::PsplineIarPls, "pspline_iarpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_iarpls_1d, true},
     {true, false, 4, rows::pspline_arpls_2d, true}},
    {MethodId::PsplinePsalsa, "pspline_psalsa", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_psalsa_1d, true},
     {true, false, 4, rows::pspline_psalsa_2d, true}},
    {MethodId::PsplineDerPsalsa, "pspline_derpsalsa", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_derpsalsa_1d, true}, {}},
    {MethodId::PsplineLsrPls, "pspline_lsrpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_lsrpls_1d, true},
     {true, false, 4, rows::pspline_arpls_2d, true}},
    {MethodId::PsplineBrPls, "pspline_brpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_brpls_1d, true},
     {true, false, 4, rows::pspline_brpls_2d, true}},
    {MethodId::PsplineDrPls, "pspline_drpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_drpls_1d, true}, {}},
    {MethodId::PsplineIasls, "pspline_iasls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_iasls_1d, true},
     {true, false, 4, rows::pspline_iasls_2d, true}},
    {MethodId::PsplineAsPls, "pspline_aspls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_aspls_1d, true}, {}},
    {MethodId::Goldindec, "goldindec", rows::no_aliases, Family::Polynomial,
     {true, false, 1, rows::goldindec_1d, true}, {}},
    {MethodId::Swima, "swima", rows::no_aliases, Family::Smoothing, {true, false, 1, rows::swima_1d}, {}},
    {MethodId::MixtureModel, "mixture_model", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::mixture_model_1d, true},
     {true, false, 4, rows::mixture_model_2d, true}},
    {MethodId::Irsqr, "irsqr", rows::no_aliases, Family::Pspline, {true, false, 2, rows::irsqr_1d, true},
     {true, false, 4, rows::irsqr_2d, true}},
    {MethodId::PsplineMpls, "pspline_mpls", rows::no_aliases, Family::Pspline,
     {true, false, 2, rows::pspline_mpls_1d, true}, {}},
}};

constexpr bool table_in_id_order() {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (static_cast<std::size_t>(table[i].id) != i) return false;
    }
    return true;
}
static_assert(table_in_id_order(), "row k of the table describes MethodId k");

constexpr const MethodRow& row(MethodId id) { return table[static_cast<std::size_t>(id)]; }

constexpr const Parameter* find_parameter(const Dimension& dimension, std::string_view name) {
    for (const Parameter& parameter : dimension.parameters) {
        if (parameter.name == name) return &parameter;
    }
    return nullptr;
}

// Which methods a lookup may find: those of one dimension, or only the fixed-default module's.
struct Scope {
    int ndim;
    bool fixed_only;

    constexpr bool admits(const MethodRow& method) const {
        const Dimension& dimension = method.in(ndim);
        return dimension.present && (dimension.fixed || !fixed_only);
    }
};

}  // namespace quorvel::catalogue
