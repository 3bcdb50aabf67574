// libFuzzer entry point at the core's dispatch boundary: the first byte picks one or two
// dimensions, the rest decodes a method, its options or the fixed defaults, a block of items and
// a mask. fuzz/make_seeds.py writes seeds in this layout.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "checks.hpp"
#include "byte_reader.hpp"
#include "catalogue/table.hpp"

#include <limits>
#include "dispatch/pspline_many.hpp"
#include "dispatch/rules.hpp"
#include "simple/dispatch.hpp"

namespace quorvel::fuzz {
namespace {

// A method of the catalogue that exists in `ndim` dimensions, so every method added later is fuzzed.
catalogue::MethodId pick_method(ByteReader& in, int ndim) {
    std::vector<catalogue::MethodId> present;
    for (const auto& method : catalogue::table) {
        if (method.in(ndim).present) present.push_back(method.id);
    }
    return present[in.u8() % present.size()];
}

// How a method's fit report counts and stops (see check_report); airPLS on grids came with the later rules.
Loop loop_of(catalogue::MethodId method, int ndim) {
    using catalogue::MethodId;
    switch (method) {
        case MethodId::AirPls: return ndim == 1 ? Loop::Own : Loop::Reference;
        case MethodId::Asls:
        case MethodId::ArPls:
        case MethodId::RollingBall:
        case MethodId::Polynomial:
        case MethodId::Tophat:
        case MethodId::Snip:
        case MethodId::Rubberband:
        case MethodId::Mor:
        case MethodId::NoiseMedian:
        case MethodId::PeakFilling:
        case MethodId::CornerCutting:
        case MethodId::Mwmv:
        case MethodId::InterpPts: return Loop::Own;
        case MethodId::Mpls:
        case MethodId::PsplineMpls: return Loop::Own;
        case MethodId::Iasls:
        case MethodId::DrPls:
        case MethodId::IarPls:
        case MethodId::AsPls:
        case MethodId::Psalsa:
        case MethodId::DerPsalsa:
        case MethodId::LsrPls:
        case MethodId::Imor:
        case MethodId::Amormol:
        case MethodId::Mormol:
        case MethodId::Poly:
        case MethodId::Modpoly:
        case MethodId::Imodpoly:
        case MethodId::PenalizedPoly:
        case MethodId::QuantReg:
        case MethodId::Loess: return Loop::Reference;
        case MethodId::Jbcd:
        case MethodId::Ipsa:
        case MethodId::Ria:
        case MethodId::PsplineAsls:
        case MethodId::PsplineArPls:
        case MethodId::PsplineAirPls:
        case MethodId::PsplineIarPls:
        case MethodId::PsplinePsalsa:
        case MethodId::PsplineDerPsalsa:
        case MethodId::PsplineLsrPls:
        case MethodId::PsplineDrPls:
        case MethodId::PsplineIasls:
        case MethodId::PsplineAsPls:
        case MethodId::MixtureModel:
        case MethodId::Irsqr: return Loop::Reference;
        case MethodId::BrPls:
        case MethodId::PsplineBrPls:
        case MethodId::Goldindec:
        case MethodId::Swima: return Loop::TwoLoops;
    }
    return Loop::Own;
}

// Whether the method iterates, and the cap and tolerance it reads.
struct Stopping {
    bool iterates;
    std::uint64_t max_iter;
    double tol;
};
Stopping stopping_of(const dispatch::Options& options) {
    using catalogue::MethodId;
    const MethodId method = options.method;
    if (method == MethodId::Imor || method == MethodId::Amormol || method == MethodId::Mormol) {
        return {true, options.window.max_iter, options.window.tol};
    }
    if (method == MethodId::Modpoly || method == MethodId::Imodpoly || method == MethodId::PenalizedPoly ||
        method == MethodId::Goldindec ||
        method == MethodId::QuantReg || method == MethodId::Loess) {
        return {true, options.polynomial.max_iter, options.polynomial.tol};
    }
    if (method == MethodId::CornerCutting) return {true, options.clipping.max_iter, 0.0};
    if (method == MethodId::Swima) return {true, 0, std::numeric_limits<double>::infinity()};
    if (method == MethodId::Jbcd) return {true, options.window.max_iter, options.window.tol_2};
    if (method == MethodId::Ipsa || method == MethodId::Ria) {
        return {true, options.smoothing.max_iter, options.smoothing.tol};
    }
    // pspline_mpls fits once through its anchors, as mpls does.
    if (method == MethodId::PsplineMpls) return {false, 1, 0.0};
    if (catalogue::row(method).family == catalogue::Family::Pspline) {
        return {true, options.pspline.max_iter, options.pspline.tol};
    }
    const bool whittaker = catalogue::row(options.method).family == catalogue::Family::Whittaker;
    return {whittaker, options.whittaker.max_iter, options.whittaker.tol};
}

// Every family record, so that whatever the method reads is drawn.
void draw_records(ByteReader& in, int ndim, dispatch::Options& options) {
    auto& w = options.whittaker;
    w.lam = {in.real(), ndim == 2 && in.flag() ? in.real() : 0.0};
    if (w.lam[1] == 0.0) w.lam[1] = w.lam[0];
    w.p = in.real();
    w.max_iter = 1 + in.upto(ndim == 1 ? 20 : 8);
    w.tol = in.real();
    if (in.flag()) w.stop = whittaker::StopRule::NegativeResiduals;
    const auto order = [&] { return in.u8() % 16 == 0 ? in.u8() : 1 + in.upto(2); };
    w.diff_order = {order(), ndim == 2 && in.flag() ? order() : 0};
    if (w.diff_order[1] == 0) w.diff_order[1] = w.diff_order[0];
    w.lam_1 = {in.real(), ndim == 2 && in.flag() ? in.real() : 0.0};
    if (w.lam_1[1] == 0.0) w.lam_1[1] = w.lam_1[0];
    w.eta = in.real();
    w.asymmetric_coef = in.real();
    w.k = in.flag() ? std::numeric_limits<double>::quiet_NaN() : in.real();
    w.smooth_half_window = in.upto(40);
    w.num_smooths = in.upto(4);
    w.max_iter_2 = 1 + in.upto(4);
    w.tol_2 = in.real();
    options.window.half_window = {in.upto(ndim == 1 ? 35 : 4), in.upto(4)};
    options.window.tol = in.real();
    options.window.max_iter = 1 + in.upto(ndim == 1 ? 20 : 8);
    options.window.smooth_half_window = in.upto(6);
    auto& p = options.polynomial;
    const auto degree = [&] {
        if (in.u8() % 8 != 0) return in.upto(ndim == 1 ? 6 : 3);
        return in.flag() ? in.u64() : in.upto(40);  // past what the kernels hold, and past any data
    };
    p.poly_order = {degree(), ndim == 2 && in.flag() ? degree() : 0};
    if (ndim == 1 || p.poly_order[1] == 0) p.poly_order[1] = p.poly_order[0];
    p.max_cross = in.flag() ? polynomial::any_cross : in.upto(3);
    p.tol = in.real();
    p.max_iter = 1 + in.upto(20);
    p.use_original = in.flag();
    p.mask_initial_peaks = in.flag();
    p.num_std = in.real();
    p.cost_function = static_cast<polynomial::CostFunction>(in.upto(5));
    p.threshold = in.flag() ? std::numeric_limits<double>::quiet_NaN() : in.real();
    p.alpha_factor = in.real();
    p.peak_ratio = in.real();
    p.tol_2 = in.real();
    p.tol_3 = in.real();
    p.max_iter_2 = 1 + in.upto(8);
    p.quantile = in.real();
    p.eps = in.flag() ? std::numeric_limits<double>::quiet_NaN() : in.real();
    p.fraction = in.real();
    p.total_points = in.flag() ? 0 : in.upto(64);
    p.scale = in.real();
    p.delta = in.flag() ? std::numeric_limits<double>::quiet_NaN() : in.real();
    p.symmetric_weights = in.flag();
    p.use_threshold = in.flag();
    options.window.lam = in.real();
    options.window.p = in.flag() ? 0.0 : in.real();
    options.window.diff_order = order();
    options.window.alpha = in.real();
    options.window.beta = in.real();
    options.window.gamma = in.real();
    options.window.beta_mult = in.real();
    options.window.gamma_mult = in.real();
    options.window.tol_2 = in.real();
    options.window.robust_opening = in.flag();
    options.smoothing.max_iter = 1 + in.upto(ndim == 1 ? 20 : 8);
    options.smoothing.tol = in.real();
    auto& c = options.clipping;
    c.max_half_window = {in.upto(ndim == 1 ? 40 : 5), in.upto(ndim == 1 ? 40 : 5)};  // 0: the default
    c.decreasing = in.flag();
    c.lls = in.flag();
    c.smooth_half_window = in.upto(4);
    c.filter_order = in.u8() % 8 == 0 ? in.u8() : 2 + 2 * in.upto(3);
    c.segments = in.upto(6);
    c.diff_order = order();
    c.lam = in.flag() ? 0.0 : in.real();
    c.max_iter = 1 + in.upto(20);
    auto& s = options.smoothing;
    s.sections = in.upto(40);  // 0: the default
    s.max_iter = 1 + in.upto(8);
    s.lam_smooth = in.flag() ? 0.0 : in.real();
    s.min_half_window = 1 + in.upto(12);
    s.max_half_window = in.upto(40);  // 0: the default
    options.grid.cg_max_iter = 1 + in.upto(60);
    options.grid.cg_tol = in.real();
    auto& spline = options.pspline;  // after the rest, so that older inputs decode as before
    spline.p = in.real();
    spline.symmetric = in.flag();
    spline.quantile = in.real();
    spline.eps = in.flag() ? std::numeric_limits<double>::quiet_NaN() : in.real();
    // Knots few enough for the small grids above, and either axis its own.
    spline.num_knots = {in.upto(10), in.upto(10)};
    spline.spline_degree = {in.upto(6), in.upto(6)};
    spline.diff_order = {in.upto(4), in.upto(4)};
    spline.lam = {in.real(), ndim == 2 && in.flag() ? in.real() : 0.0};
    if (spline.lam[1] == 0.0) spline.lam[1] = spline.lam[0];
    spline.lam_1 = {in.real(), in.real()};
}

void fit_1d(ByteReader& in) {
    dispatch::Options options = dispatch::defaults(pick_method(in, 1), 1);
    const bool defaults = in.flag();
    if (!defaults) draw_records(in, 1, options);
    const Output output = in.flag() ? Output::Corrected : Output::Baseline;
    const auto path = static_cast<whittaker::LanePath>(in.u8() % 4);
    Items made = items(in, 12, in.length(4096));
    dispatch::Scratch scratch;
    if (in.flag()) {  // a scratch that served a shorter signal first must change nothing
        Values out(in.upto(made.n));
        failed(dispatch::fit_1d_into(made.item(0).first(out.size()), {}, options, out, scratch, nullptr));
    }
    dispatch::Details details;
    const Stopping stop = stopping_of(options);
    const Alone alone = fit_alone(made, output, "y", [&](In y, Mask mask, Out out) {
        auto fit = dispatch::fit_1d_into(y, mask, options, out, scratch, &details);
        check_report(fit, details, stop.iterates, loop_of(options.method, 1), stop.max_iter, stop.tol);
        return fit;
    });
    check_block(in, made, output, alone, [&](In values, Mask masks, Output o, Out out) {
        return dispatch::fit_1d_many(values, made.count, made.n, masks, options, o, out);
    });
    if (defaults && !made.flags) {
        const auto y = made.item(0);
        const simple::Method m{options.method};
        check_fixed(made, output, alone, simple::fit_with(y, m), simple::baseline_with(y, m),
                    simple::correct_with(y, m));
    }
    dispatch::with_rule<1>(options, [&](const auto& rule) { check_lanes(path, made, options, rule); }, [] {});
    if (dispatch::spline_lanes_serve(options, made.count, made.n)) {
        check_paths(path, made, [&](Out out, std::span<whittaker::ItemOutcome> into, whittaker::LanePath p) {
            dispatch::fit_spline_lanes(made.values, made.n, made.mask(), options, out, into, p);
        });
    }
}

// The positions of a grid axis of m points: none, evenly spaced, or increasing by steps drawn from the input,
// up to 10^3 apart, that the uneven penalties and the multigrid's line smoothing take.
std::vector<double> axis_positions(ByteReader& in, std::uint64_t m) {
    std::vector<double> t;
    const std::uint8_t kind = in.u8() % 4;
    if (kind == 0) return t;
    double at = in.real();
    for (std::uint64_t k = 0; k < m; ++k) {
        t.push_back(at);
        at = at + (kind == 1 ? 1.0 : std::pow(10.0, static_cast<double>(in.upto(30)) / 10.0));
    }
    return t;
}

void fit_2d(ByteReader& in) {
    dispatch::Options options = dispatch::defaults(pick_method(in, 2), 2);
    const bool defaults = in.flag();
    if (!defaults) draw_records(in, 2, options);
    if (in.flag()) options.grid.solver = two_d::whittaker::GridSolver::multigrid;
    const Output output = in.flag() ? Output::Corrected : Output::Baseline;
    // The defaults run up to 50 solves of 500 steps, slow under the sanitizers: smaller grids then.
    const std::uint64_t extent = defaults ? 12 : 24, rows = 1 + in.upto(extent - 1), cols = 1 + in.upto(extent - 1);
    Items made = items(in, 4, rows * cols);
    dispatch::Scratch scratch;
    if (in.flag()) {  // a scratch planned for the transposed grid first must change nothing
        Values out(made.n);
        failed(dispatch::fit_2d_into(made.item(0), cols, rows, {}, options, out, scratch, nullptr));
    }
    const std::vector<double> x = axis_positions(in, rows), z = axis_positions(in, cols);
    options.x = x, options.z = z;
    dispatch::Details details;
    const Stopping stop = stopping_of(options);
    const Alone alone = fit_alone(made, output, "data", [&](In data, Mask mask, Out out) {
        auto fit = dispatch::fit_2d_into(data, rows, cols, mask, options, out, scratch, &details);
        check_report(fit, details, stop.iterates, loop_of(options.method, 2), stop.max_iter, stop.tol);
        return fit;
    });
    check_block(in, made, output, alone, [&](In values, Mask masks, Output o, Out out) {
        return dispatch::fit_2d_many(values, made.count, rows, cols, masks, options, o, out);
    });
    // The fixed dispatch takes no positions.
    if (defaults && !made.flags && options.grid.solver == two_d::whittaker::GridSolver::conjugate_gradients &&
        x.empty() && z.empty()) {
        const auto d = made.item(0);
        const simple::Method2D m{options.method};
        check_fixed(made, output, alone, simple::fit_2d_with(d, rows, cols, m),
                    simple::baseline_2d_with(d, rows, cols, m), simple::correct_2d_with(d, rows, cols, m));
    }
}

}  // namespace
}  // namespace quorvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvel::fuzz::ByteReader in({data, size});
    if (in.u8() % 2 == 0) {
        quorvel::fuzz::fit_1d(in);
    } else {
        quorvel::fuzz::fit_2d(in);
    }
    return 0;
}
