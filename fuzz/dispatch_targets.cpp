// The entry points the Python module calls: fit, baseline and correct must agree bit for bit.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "checks.hpp"
#include "simple/dispatch.hpp"
#include "targets.hpp"

namespace quorvel::fuzz {
namespace {

constexpr std::uint64_t most_iterations = 50;  // the fixed default of every iterative method

// fit, baseline and correct of one input. A baseline may fail where the fit succeeded only
// because the fit holds a non-finite value, and correct only because a difference overflows.
void check_split(std::span<const double> data, const Result<Fit>& fit, const Result<std::vector<double>>& baseline,
                 const Result<std::vector<double>>& corrected) {
    const bool baseline_failed = failed(baseline), corrected_failed = failed(corrected);
    if (failed(fit)) {
        require(baseline_failed && same_error(baseline, Result<std::vector<double>>(fit.error())),
                "baseline succeeded or failed differently where the fit failed");
        require(corrected_failed && same_error(corrected, baseline), "correct and baseline fail differently");
        return;
    }
    const Fit& f = fit.value();
    require(f.baseline.size() == data.size(), "fit has the wrong length");
    require(f.report.iterations >= 1 && f.report.iterations <= most_iterations, "iteration count out of range");
    if (baseline_failed) {
        require(!all_finite(f.baseline), "baseline failed although the fit is finite");
        require(corrected_failed && same_error(corrected, baseline), "correct and baseline fail differently");
        return;
    }
    const auto& b = baseline.value();
    require(same_bits(b, f.baseline), "baseline differs from the fit of the same input");
    check_finite_result(data, b);
    if (corrected_failed) {
        bool overflows = false;
        for (std::size_t i = 0; i < data.size(); ++i) overflows = overflows || is_non_finite(data[i] - b[i]);
        require(overflows, "correct failed although every difference is finite");
        return;
    }
    const auto& c = corrected.value();
    require(c.size() == data.size(), "corrected signal has the wrong length");
    for (std::size_t i = 0; i < data.size(); ++i) {
        const double expected = data[i] - b[i];
        require(same_bits({&c[i], 1}, {&expected, 1}), "correct is not data minus baseline");
    }
    check_finite_result(data, c);
}

// Shapes that trip each guard of the grid validation, or a matching length.
struct Shape {
    std::uint64_t rows, cols;
    std::size_t length;
};

Shape grid_shape(ByteReader& in, std::uint64_t extent) {
    const std::uint8_t mode = in.u8() % 8;
    std::uint64_t rows = in.upto(extent), cols = in.upto(extent);
    if (mode == 5) return {rows, cols, rows * cols + 1 + in.upto(2)};
    if (mode == 6) return {rows, cols, rows * cols - std::min<std::uint64_t>(rows * cols, 1 + in.upto(2))};
    if (mode == 7) {
        // Huge extents: the product overflows, or it merely disagrees with a short input.
        if (in.flag()) rows = std::numeric_limits<std::uint64_t>::max() - in.upto(3);
        else cols = in.u64();
        return {rows, cols, in.upto(64)};
    }
    return {rows, cols, rows * cols};
}

}  // namespace

void dispatch_1d(ByteReader& in) {
    // Kinds 5 and 6 are no method: the dispatch must refuse them.
    const simple::Method method{static_cast<simple::Method::Kind>(in.u8() % 7)};
    const std::vector<double> y = in.signal(in.length(4096));
    check_split(y, simple::fit_with(y, method), simple::baseline_with(y, method), simple::correct_with(y, method));
}

void dispatch_2d(ByteReader& in) {
    const simple::Method2D method{static_cast<simple::Method2D::Kind>(in.u8() % 6)};
    // Up to 50 smoothing solves of 500 conjugate-gradient steps each take seconds under the
    // sanitizers; tunable_2d reaches the larger grids with fewer iterations.
    const bool smoothing = method.kind == simple::Method2D::Asls || method.kind == simple::Method2D::ArPls;
    const Shape shape = grid_shape(in, smoothing ? 16 : 64);
    const std::vector<double> data = in.signal(shape.length);
    const auto valid = simple::validate_grid(data, shape.rows, shape.cols);
    const auto fit = simple::fit_2d_with(data, shape.rows, shape.cols, method);
    if (failed(valid)) require(failed(fit), "an invalid grid was fitted");
    check_split(data, fit, simple::baseline_2d_with(data, shape.rows, shape.cols, method),
                simple::correct_2d_with(data, shape.rows, shape.cols, method));
}

}  // namespace quorvel::fuzz
