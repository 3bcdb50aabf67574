#include "fit_setup.hpp"

#include <algorithm>
#include <cmath>

#include "core/abscissa.hpp"
#include "core/numeric.hpp"

namespace quorvel::polynomial {
namespace {

Status check_order(std::size_t n, Mask mask, std::uint64_t order, const char* method) {
    const std::size_t used = used_count(n, mask);
    if (order < used) return ok;
    if (mask.empty()) return InputTooShort{n, method, order == UINT64_MAX ? order : order + 1};
    return InvalidParameter{"mask", "must keep more samples than the polynomial order"};
}

Status fill_positions(std::span<const double> x, std::size_t n, std::vector<double>& positions) {
    positions.resize(n);
    if (x.empty()) {
        for (std::size_t i = 0; i < n; ++i) positions[i] = scaled_coordinate(i, n);
        return ok;
    }
    const auto abscissa = mapped_abscissa(x, n);
    if (!abscissa) return abscissa.error();
    for (std::size_t i = 0; i < n; ++i) positions[i] = abscissa.value().at(i);
    return ok;
}

}  // namespace

Status prepare(std::span<const double> y, std::span<const double> x, Mask mask, std::uint64_t order,
               std::span<double> out, const char* method, FitWorkspace& ws) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (!mask.empty() && mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_masked_out(mask, i) && is_non_finite(y[i])) return NonFiniteInput{i};
    }
    if (out.size() != n) return LengthMismatch{"baseline", n, out.size()};
    if (auto enough = check_order(n, mask, order, method); !enough) return enough.error();
    if (auto placed = fill_positions(x, n, ws.positions); !placed) return placed.error();
    ws.used.resize(n);
    for (std::size_t i = 0; i < n; ++i) ws.used[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    ws.weights = ws.used;
    return ok;
}

Status check_limits(IterationLimits limits) {
    if (!(limits.tol >= 0.0)) return InvalidParameter{"tol", "must be at least 0"};
    if (limits.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    return ok;
}

double used_deviation(std::span<const double> a, std::span<const double> b, std::span<const double> weights) {
    double sum = 0.0, count = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (weights[i] > 0.0) sum += a[i] - b[i], count += 1.0;
    }
    const double mean = sum / count;
    double squares = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = a[i] - b[i] - mean;
        if (weights[i] > 0.0) squares += d * d;
    }
    return std::sqrt(squares / count);
}

double relative_change(std::span<const double> old, std::span<const double> now, std::span<const double> weights) {
    double distance2 = 0.0, norm2 = 0.0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const bool used = weights[i] > 0.0;
        distance2 += pick(used, (now[i] - old[i]) * (now[i] - old[i]), 0.0);
        norm2 += pick(used, old[i] * old[i], 0.0);
    }
    return std::sqrt(distance2) / std::fmax(std::sqrt(norm2), epsilon);
}

bool finish_iteration(double change, std::uint64_t iteration, IterationLimits limits, FitReport& report,
                      std::vector<double>* history) {
    if (history) history->push_back(change);
    report = {iteration, change, change < limits.tol};
    return report.converged || iteration >= limits.max_iter;
}

}  // namespace quorvel::polynomial
