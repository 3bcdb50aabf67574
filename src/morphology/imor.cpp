#include "imor.hpp"

#include <algorithm>

#include <vector>

#include "averaged_opening.hpp"
#include "core/numeric.hpp"

namespace quorvel::morphology {
namespace {

Status check(ImorParams params) {
    if (!(params.tol >= 0.0)) return InvalidParameter{"tol", "must be at least 0"};
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    return ok;
}

template <class Flat>
FitReport iterate(Flat& flat, std::span<const double> y, ImorParams params, std::span<double> baseline,
                  std::vector<double>* history) {
    std::vector<double> previous(y.begin(), y.end()), next(y.size());
    std::vector<double> opening;
    FitReport report{0, 0.0, false};
    if (history) history->clear();
    for (std::uint64_t pass = 0; pass <= params.max_iter; ++pass) {
        averaged_opening(flat, previous, y, next, opening);
        report.last_change = relative_change(previous, next);
        report.iterations = pass + 1;
        if (history) history->push_back(report.last_change);
        if (report.last_change < params.tol) {
            report.converged = true;
            break;
        }
        previous.swap(next);
    }
    std::copy(previous.begin(), previous.end(), baseline.begin());
    return report;
}

}  // namespace

Status check_iterated(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                      std::span<const double> baseline) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    return check(params);
}

Result<FitReport> imor_into(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                            std::span<double> baseline, std::vector<double>* history) {
    if (auto valid = check_iterated(y, half_window, params, baseline); !valid) return valid.error();
    FlatSpectrum flat{half_window};
    return iterate(flat, y, params, baseline, history);
}

Result<FitReport> imor_into(const two_d::Grid& data, std::uint64_t half_rows, std::uint64_t half_cols,
                            ImorParams params, const two_d::GridOut& output, std::vector<double>* history) {
    if (!two_d::same_shape(data, output)) return two_d::output_mismatch(data, output);
    if (half_rows == 0 || half_cols == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (auto valid = check(params); !valid) return valid.error();
    FlatGrid flat{data.rows, data.cols, half_rows, half_cols};
    return iterate(flat, data.data, params, output.data, history);
}

}  // namespace quorvel::morphology
