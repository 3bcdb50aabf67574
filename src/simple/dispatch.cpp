#include "dispatch.hpp"

#include "dispatch/correction.hpp"
#include "dispatch/fit.hpp"

namespace quorvel::simple {

Result<Fit> fit_with(std::span<const double> y, Method method) {
    const dispatch::Options options = dispatch::defaults(method.kind, 1);
    return fit_allocated(y.size(), [&](std::span<double> baseline) {
        dispatch::Scratch scratch;
        return dispatch::fit_1d_into(y, {}, options, baseline, scratch, nullptr);
    });
}

Result<std::vector<double>> baseline_with(std::span<const double> y, Method method) {
    return dispatch::baseline_of(fit_with(y, method), "y");
}

Result<std::vector<double>> correct_with(std::span<const double> y, Method method) {
    return dispatch::subtract_baseline(y, fit_with(y, method), "y");
}

// The grid is checked before anything is allocated for it.
Result<Fit> fit_2d_with(std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Method2D method) {
    if (auto valid = dispatch::validate_grid(data, rows, cols); !valid) return valid.error();
    const dispatch::Options options = dispatch::defaults(method.kind, 2);
    return fit_allocated(data.size(), [&](std::span<double> baseline) {
        dispatch::Scratch scratch;
        return dispatch::fit_2d_into(data, rows, cols, {}, options, baseline, scratch, nullptr);
    });
}

Result<std::vector<double>> baseline_2d_with(std::span<const double> data, std::uint64_t rows,
                                             std::uint64_t cols, Method2D method) {
    return dispatch::baseline_of(fit_2d_with(data, rows, cols, method), "data");
}

Result<std::vector<double>> correct_2d_with(std::span<const double> data, std::uint64_t rows,
                                            std::uint64_t cols, Method2D method) {
    return dispatch::subtract_baseline(data, fit_2d_with(data, rows, cols, method), "data");
}

}  // namespace quorvel::simple
