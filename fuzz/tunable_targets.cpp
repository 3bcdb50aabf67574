// Fits with the caller's parameters and masks. One item at a time and a block at once must agree
// bit for bit, as must every lane path and the loop of single fits; what a masked-out sample holds
// must never change a result; options that hold the defaults give the fixed dispatch's bits.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "checks.hpp"
#include "simple/correction.hpp"
#include "simple/dispatch.hpp"
#include "targets.hpp"
#include "tunable/fit.hpp"
#include "whittaker/many.hpp"

namespace quorvel::fuzz {
namespace {

using tunable::Output;

struct Items {
    std::size_t count, n;
    std::vector<double> values;
    std::unique_ptr<bool[]> flags;  // null: no mask

    Mask mask() const { return flags ? Mask(flags.get(), count * n) : Mask{}; }
    Mask mask(std::size_t k) const { return flags ? mask().subspan(k * n, n) : Mask{}; }
    std::span<const double> item(std::size_t k) const { return std::span(values).subspan(k * n, n); }
};

Items items(ByteReader& in, std::size_t most, std::size_t n) {
    Items made{1 + in.upto(most - 1), n, {}, nullptr};
    made.values = in.signal(made.count * n);
    if (in.flag()) made.flags = in.bits(made.count * n);
    return made;
}

void check_report(const FitReport& r, const tunable::Details& details, bool reweighted, std::uint64_t max_iter,
                  double tol) {
    if (!reweighted) max_iter = 1, tol = 0.0;
    require(r.iterations >= 1 && r.iterations <= max_iter, "iteration count out of range");
    require(r.converged == (r.last_change <= tol), "convergence flag contradicts the change");
    require(r.converged || r.iterations == max_iter, "stopped early without converging");
    require(!reweighted || (details.history.size() == r.iterations &&
                            same_bits({&details.history.back(), 1}, {&r.last_change, 1})),
            "history and report disagree");
}

// Items alone: the output asked for, and the first failure with its text.
struct Alone {
    std::vector<double> out;
    std::optional<std::size_t> failure;
    std::string error;
};

template <class One>
Alone fit_alone(const Items& made, Output output, const char* what, One one) {
    const std::size_t n = made.n;
    Alone alone{std::vector<double>(made.count * n), std::nullopt, {}};
    for (std::size_t k = 0; k < made.count && !alone.failure; ++k) {
        const auto out = std::span(alone.out).subspan(k * n, n);
        Status done = one(made.item(k), made.mask(k), out);
        if (done && output == Output::Corrected) done = tunable::subtract_checked(made.item(k), out, made.mask(k), out, what);
        if (done && output == Output::Baseline && !all_finite(out)) done = InvalidParameter{what, simple::baseline_overflow};
        if (failed(done)) alone = {std::move(alone.out), k, display(done.error())};
    }
    return alone;
}

// The block must stop at the first item that fails alone, with its error, and give every earlier
// item the same bits. Then the masked-out samples get other values, which must change nothing.
template <class Many>
void check_block(ByteReader& in, Items& made, Output output, const Alone& alone, Many many) {
    const std::size_t n = made.n;
    std::vector<double> block(made.count * n);
    const auto failure = many(made.values, made.count, made.mask(), output, block);
    require(failure.has_value() == alone.failure.has_value(), "a block fails where its items do not, or not where they do");
    require(!failure || (failure->index == *alone.failure && display(failure->error) == alone.error),
            "a block reports another failure than its first failing item");
    const std::size_t good = (failure ? failure->index : made.count) * n;
    require(same_bits(std::span(alone.out).first(good), std::span(block).first(good)), "a block differs from its items");
    if (!made.flags || failure) return;
    for (std::size_t i = 0; i < made.values.size(); ++i) {
        if (!made.flags[i]) made.values[i] = in.real();
    }
    std::vector<double> again(block.size());
    require(!many(made.values, made.count, made.mask(), output, again), "masked-out values made a block fail");
    for (std::size_t i = 0; i < again.size(); ++i) {
        const bool compared = made.flags[i] || output == Output::Baseline;
        require(!compared || same_bits({&again[i], 1}, {&block[i], 1}), "masked-out values changed a result");
    }
}

// Without a mask and with the default options, item 0 has the bits and errors of the fixed dispatch.
void check_fixed(const Items& made, const Alone& alone, const Result<std::vector<double>>& fixed) {
    if (made.flags) return;
    require(failed(fixed) == (alone.failure == 0), "the fixed dispatch and the defaults disagree on failing");
    if (failed(fixed)) {
        require(display(fixed.error()) == alone.error, "the fixed dispatch and the defaults fail differently");
        return;
    }
    require(same_bits(fixed.value(), std::span(alone.out).first(made.n)), "the defaults differ from the fixed dispatch");
}

// Each lane path gives every spectrum the outcome and bits of the loop of single fits.
template <class Rule>
void check_lanes(whittaker::LanePath path, const Items& made, const tunable::Options1D& options, const Rule& rule) {
    using whittaker::LanePath;
    std::vector<double> expected(made.values.size()), got(made.values.size());
    std::vector<whittaker::ItemOutcome> reference(made.count), outcomes(made.count);
    const auto fit = [&](std::span<double> out, std::span<whittaker::ItemOutcome> into, LanePath p) {
        whittaker::fit_many(made.values, made.n, options.whittaker, rule, made.mask(), options.stop, out, into, p);
    };
    fit(expected, reference, LanePath::ScalarLoop);
    fit(got, outcomes, path);
    for (std::size_t k = 0; k < made.count; ++k) {
        const auto &a = outcomes[k], &b = reference[k];
        require(a.error.has_value() == b.error.has_value(), "a lane path and the loop disagree on failing");
        if (b.error) {
            require(display(*a.error) == display(*b.error), "a lane path fails differently");
            continue;
        }
        require(a.report.iterations == b.report.iterations && a.report.converged == b.report.converged &&
                    same_bits({&a.report.last_change, 1}, {&b.report.last_change, 1}),
                "a lane path reports another fit");
        require(same_bits(std::span(got).subspan(k * made.n, made.n), std::span(expected).subspan(k * made.n, made.n)),
                "a lane path changed a baseline");
    }
}

}  // namespace

void tunable_1d(ByteReader& in) {
    using simple::Method;
    tunable::Options1D options{Method{static_cast<Method::Kind>(in.u8() % 5)}, {1e6, 50, 1e-3}, 0.01,
                               whittaker::StopRule::WeightChange, 31, 2};
    const bool defaults = in.flag();
    if (!defaults) {
        options.whittaker = {in.real(), 1 + in.upto(20), in.real()};
        options.p = in.real();
        if (in.flag()) options.stop = whittaker::StopRule::NegativeResiduals;
        options.window_size = in.upto(70);
        options.order = in.u8() % 8 == 0 ? in.u64() : in.upto(6);
    }
    const Output output = in.flag() ? Output::Corrected : Output::Baseline;
    const auto path = static_cast<whittaker::LanePath>(in.u8() % 4);
    Items made = items(in, 12, in.length(4096));
    const bool reweighted = options.method.kind <= Method::AirPls;
    tunable::Scratch scratch;
    tunable::Details details;
    // A scratch that served a shorter signal first must change nothing.
    if (in.flag()) {
        std::vector<double> out(in.upto(made.n));
        failed(tunable::fit_1d_into(made.item(0).first(out.size()), {}, options, out, scratch, nullptr));
    }
    const Alone alone = fit_alone(made, output, "y", [&](std::span<const double> y, Mask mask, std::span<double> out) {
        const auto report = tunable::fit_1d_into(y, mask, options, out, scratch, &details);
        if (!failed(report)) check_report(report.value(), details, reweighted, options.whittaker.max_iter, options.whittaker.tol);
        return report ? Status(ok) : Status(report.error());
    });
    check_block(in, made, output, alone, [&](std::span<const double> values, std::size_t count, Mask masks, Output o, std::span<double> out) {
        return tunable::fit_1d_many(values, count, made.n, masks, options, o, out);
    });
    if (defaults) {
        const auto y = made.item(0);
        check_fixed(made, alone, output == Output::Corrected ? simple::correct_with(y, options.method)
                                                                    : simple::baseline_with(y, options.method));
    }
    switch (options.method.kind) {
        case Method::Asls: check_lanes(path, made, options, whittaker::AslsWeights{options.p}); break;
        case Method::ArPls: check_lanes(path, made, options, whittaker::ArPlsWeights{}); break;
        case Method::AirPls: check_lanes(path, made, options, whittaker::AirPlsWeights{}); break;
        default: break;
    }
}

void tunable_2d(ByteReader& in) {
    using simple::Method2D;
    tunable::Options2D options{Method2D{static_cast<Method2D::Kind>(in.u8() % 4)},
                               {std::nullopt, std::nullopt, 1e4, 50, 1e-3, 500, 1e-6},
                               two_d::whittaker::GridSolver::conjugate_gradients, 0.01, 7, 7, 2};
    const bool defaults = in.flag();
    if (!defaults) {
        auto& w = options.whittaker;
        w.lambda = in.real();
        if (in.flag()) w.lambda_rows = in.real();
        if (in.flag()) w.lambda_cols = in.real();
        w.max_iter = 1 + in.upto(8);
        w.tol = in.real();
        w.cg_max_iter = 1 + in.upto(60);
        w.cg_tol = in.real();
        options.p = in.real();
        options.window_rows = in.upto(9);
        options.window_cols = in.upto(9);
        options.order = in.u8() % 8 == 0 ? in.u64() : in.upto(3);
    }
    if (in.flag()) options.solver = two_d::whittaker::GridSolver::multigrid;
    const Output output = in.flag() ? Output::Corrected : Output::Baseline;
    // The defaults run up to 50 solves of 500 steps, slow under the sanitizers: smaller grids then.
    const std::uint64_t extent = defaults ? 12 : 24, rows = 1 + in.upto(extent - 1), cols = 1 + in.upto(extent - 1);
    Items made = items(in, 4, rows * cols);
    const bool reweighted = options.method.kind <= Method2D::ArPls;
    tunable::Scratch scratch;
    tunable::Details details;
    // A scratch planned for the transposed grid first must change nothing.
    if (in.flag()) {
        std::vector<double> out(made.n);
        failed(tunable::fit_2d_into(made.item(0), cols, rows, {}, options, out, scratch, nullptr));
    }
    const Alone alone = fit_alone(made, output, "data", [&](std::span<const double> data, Mask mask, std::span<double> out) {
        const auto report = tunable::fit_2d_into(data, rows, cols, mask, options, out, scratch, &details);
        if (!failed(report)) check_report(report.value(), details, reweighted, options.whittaker.max_iter, options.whittaker.tol);
        return report ? Status(ok) : Status(report.error());
    });
    check_block(in, made, output, alone, [&](std::span<const double> values, std::size_t count, Mask masks, Output o, std::span<double> out) {
        return tunable::fit_2d_many(values, count, rows, cols, masks, options, o, out);
    });
    if (defaults && options.solver == two_d::whittaker::GridSolver::conjugate_gradients) {
        const auto data = made.item(0);
        check_fixed(made, alone, output == Output::Corrected ? simple::correct_2d_with(data, rows, cols, options.method)
                                                                    : simple::baseline_2d_with(data, rows, cols, options.method));
    }
}

}  // namespace quorvel::fuzz
