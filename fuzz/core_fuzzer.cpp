// libFuzzer entry point at the core's dispatch boundary: the first byte picks one or two
// dimensions, the rest decodes a method, its options or the fixed defaults, a block of items and
// a mask. fuzz/make_seeds.py writes seeds in this layout.
#include <cstddef>
#include <cstdint>

#include "checks.hpp"
#include "byte_reader.hpp"
#include "simple/dispatch.hpp"

namespace quorvel::fuzz {
namespace {

void fit_1d(ByteReader& in) {
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
    tunable::Scratch scratch;
    if (in.flag()) {  // a scratch that served a shorter signal first must change nothing
        Values out(in.upto(made.n));
        failed(tunable::fit_1d_into(made.item(0).first(out.size()), {}, options, out, scratch, nullptr));
    }
    tunable::Details details;
    const bool reweighted = options.method.kind <= Method::AirPls;
    const auto& w = options.whittaker;
    const Alone alone = fit_alone(made, output, "y", [&](In y, Mask mask, Out out) {
        auto fit = tunable::fit_1d_into(y, mask, options, out, scratch, &details);
        check_report(fit, details, reweighted, w.max_iter, w.tol);
        return fit;
    });
    check_block(in, made, output, alone, [&](In values, Mask masks, Output o, Out out) {
        return tunable::fit_1d_many(values, made.count, made.n, masks, options, o, out);
    });
    if (defaults && !made.flags) {
        const auto y = made.item(0);
        const Method m = options.method;
        check_fixed(made, output, alone, simple::fit_with(y, m), simple::baseline_with(y, m),
                    simple::correct_with(y, m));
    }
    switch (options.method.kind) {
        case Method::Asls: check_lanes(path, made, options, whittaker::AslsWeights{options.p}); break;
        case Method::ArPls: check_lanes(path, made, options, whittaker::ArPlsWeights{}); break;
        case Method::AirPls: check_lanes(path, made, options, whittaker::AirPlsWeights{}); break;
        default: break;
    }
}

void fit_2d(ByteReader& in) {
    using simple::Method2D;
    tunable::Options2D options{Method2D{static_cast<Method2D::Kind>(in.u8() % 4)},
                               {std::nullopt, std::nullopt, 1e4, 50, 1e-3, 500, 1e-6},
                               two_d::whittaker::GridSolver::conjugate_gradients, 0.01, 7, 7, 2};
    auto& w = options.whittaker;
    const bool defaults = in.flag();
    if (!defaults) {
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
    tunable::Scratch scratch;
    if (in.flag()) {  // a scratch planned for the transposed grid first must change nothing
        Values out(made.n);
        failed(tunable::fit_2d_into(made.item(0), cols, rows, {}, options, out, scratch, nullptr));
    }
    tunable::Details details;
    const bool reweighted = options.method.kind <= Method2D::ArPls;
    const Alone alone = fit_alone(made, output, "data", [&](In data, Mask mask, Out out) {
        auto fit = tunable::fit_2d_into(data, rows, cols, mask, options, out, scratch, &details);
        check_report(fit, details, reweighted, w.max_iter, w.tol);
        return fit;
    });
    check_block(in, made, output, alone, [&](In values, Mask masks, Output o, Out out) {
        return tunable::fit_2d_many(values, made.count, rows, cols, masks, options, o, out);
    });
    if (defaults && !made.flags && options.solver == two_d::whittaker::GridSolver::conjugate_gradients) {
        const auto d = made.item(0);
        const Method2D m = options.method;
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
