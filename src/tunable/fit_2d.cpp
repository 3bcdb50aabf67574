#include "fit.hpp"

#include "../numeric.hpp"
#include "../simple/dispatch.hpp"
#include "../two_d/morphology.hpp"
#include "../two_d/polynomial.hpp"
#include "masking.hpp"

namespace quorvel::tunable {
namespace {

using simple::Method2D;
namespace tw = two_d::whittaker;

template <class Rule>
Result<FitReport> whittaker_into(const two_d::Grid& grid, Mask mask, const Options2D& options, Rule rule,
                                 const two_d::GridOut& out, Scratch& scratch, Details* details) {
    const bool multigrid = options.solver == tw::GridSolver::multigrid;
    const tw::LoopControls controls{mask, details ? &details->history : nullptr, multigrid ? &scratch.multigrid : nullptr};
    auto report = tw::fit_controlled(grid, options.whittaker, out, scratch.whittaker_2d, rule, controls);
    if (report && details) details->weights = scratch.whittaker_2d.weights;
    return report;
}

Result<FitReport> method_into(const two_d::Grid& grid, Mask mask, const Options2D& options,
                              const two_d::GridOut& out, Scratch& scratch, Details* details) {
    switch (options.method.kind) {
        case Method2D::Asls:
            if (auto valid = tw::validate_p(options.p); !valid) return valid.error();
            return whittaker_into(grid, mask, options, tw::AslsWeights{options.p}, out, scratch, details);
        case Method2D::ArPls: return whittaker_into(grid, mask, options, tw::ArPlsWeights{}, out, scratch, details);
        case Method2D::RollingBall:
            return two_d::morphology::rolling_ball_into(grid, options.window_rows, options.window_cols, out);
        default: return two_d::polynomial::poly_masked_into(grid, options.order, mask, out);
    }
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

}  // namespace

Result<FitReport> fit_2d_into(std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Mask mask,
                              const Options2D& options, std::span<double> baseline, Scratch& scratch,
                              Details* details) {
    const two_d::GridOut out{baseline, rows, cols};
    if (mask.empty()) {
        if (auto valid = simple::validate_grid(data, rows, cols); !valid) return valid.error();
        if (baseline.size() != data.size()) return LengthMismatch{"output", data.size(), baseline.size()};
        return method_into(two_d::Grid{data, rows, cols}, mask, options, out, scratch, details);
    }
    if (auto valid = validate_masked(data, rows, cols, mask); !valid) return valid.error();
    if (baseline.size() != data.size()) return LengthMismatch{"output", data.size(), baseline.size()};
    // The polynomial never reads masked-out data; the other methods need stand-ins there.
    auto& stand_in = scratch.stand_in;
    stand_in.resize(data.size());
    if (options.method.kind == Method2D::RollingBall) {
        bridge_masked_grid(data, rows, cols, mask, stand_in);
    } else {
        zero_masked(data, mask, stand_in);
    }
    return method_into(two_d::Grid{stand_in, rows, cols}, mask, options, out, scratch, details);
}

}  // namespace quorvel::tunable
