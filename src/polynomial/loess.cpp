#include "loess.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/abscissa.hpp"
#include "core/numeric.hpp"
#include "chebyshev_kernels.hpp"
#include "linalg/dense.hpp"

namespace quorvel::polynomial {
namespace {

// The normal distribution's third quartile: MAD / this estimates the standard deviation.
constexpr double quartile = 0.6744897501960817;

Status check(std::span<const double> y, Mask mask, const LoessParams& p, std::uint64_t points) {
    if (auto limits = check_limits(p.limits); !limits) return limits.error();
    if (!(p.fraction > 0.0 && p.fraction <= 1.0)) return InvalidParameter{"fraction", "must be in (0, 1]"};
    if (!(p.scale > 0.0) || std::isinf(p.scale)) return InvalidParameter{"scale", "must be a finite number above 0"};
    if (!(p.num_std >= 0.0) || std::isinf(p.num_std)) {
        return InvalidParameter{"num_std", "must be a finite number at least 0"};
    }
    if (!std::isnan(p.delta) && !(p.delta >= 0.0 && std::isfinite(p.delta))) {
        return InvalidParameter{"delta", "must be a finite number at least 0"};
    }
    if (points > y.size()) return InvalidParameter{"total_points", "must be at most the number of samples"};
    if (points <= p.order) {
        if (p.total_points != 0) return InvalidParameter{"total_points", "must be more than poly_order"};
        return InvalidParameter{"fraction", "leaves windows of no more samples than poly_order: raise it, or give "
                                            "total_points"};
    }
    if (used_count(y.size(), mask) <= p.order) {
        return InvalidParameter{"mask", "must keep more samples than the polynomial order"};
    }
    return ok;
}

Status place(std::span<const double> x, std::size_t n, std::vector<double>& positions) {
    positions.resize(n);
    if (x.empty()) {
        for (std::size_t i = 0; i < n; ++i) positions[i] = static_cast<double>(i);
        return ok;
    }
    if (auto valid = mapped_abscissa(x, n); !valid) return valid.error();
    // Distances are all a local fit reads: a falling axis is the rising one mirrored.
    const double sign = n > 1 && x[n - 1] < x[0] ? -1.0 : 1.0;
    for (std::size_t i = 0; i < n; ++i) positions[i] = sign * x[i];
    return ok;
}

// Sums over the window [left, right] of the weights w and of w u^p (p < 2m - 1) and w u^p v (p < m), where w is
// the tricube of the distance over the window's reach times `robust`, and u the offset over the reach.
template <std::size_t M>
double window_sums(std::span<const double> t, std::span<const double> v, std::span<const double> robust,
                   std::size_t i, std::size_t left, std::size_t right, std::size_t m, double* moments, double* rhs) {
    if constexpr (M != 0) m = M;
    const double reach = std::max(t[i] - t[left], t[right] - t[i]);
    const double inverse = reach > 0.0 ? 1.0 / reach : 0.0;
    double total = 0.0;
    for (std::size_t k = left; k <= right; ++k) {
        const double u = (t[k] - t[i]) * inverse, d = std::fabs(u);
        const double near = d < 1.0 ? 1.0 - d * d * d : 0.0;
        const double w = near * near * near * robust[k];
        total += w;
        double power = w;
        for (std::size_t p = 0; p < m; ++p) {
            moments[p] += power;
            rhs[p] += power * v[k];
            power *= u;
        }
        for (std::size_t p = m; p < 2 * m - 1; ++p) {
            moments[p] += power;
            power *= u;
        }
    }
    return total;
}

// The weighted polynomial of `order` through the window [left, left + points) around sample i, at i.
double local_fit(std::span<const double> t, std::span<const double> v, std::span<const double> robust,
                 std::size_t i, std::size_t left, std::size_t points, std::uint64_t order) {
    const std::size_t m = order + 1;
    double moments[2 * 11 - 1] = {}, rhs[11] = {}, matrix[11 * 11], solution[11], pivot[11];
    const double total = kernels::with_terms(m, [&](auto fixed) {
        return window_sums<fixed()>(t, v, robust, i, left, left + points - 1, m, moments, rhs);
    });
    if (!(total > 0.0)) return v[i];
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t b = 0; b < m; ++b) matrix[a * m + b] = moments[a + b];
    }
    const double mean = rhs[0] / total;
    if (!linalg::dense::solve_dense_in_place({matrix, m * m}, {rhs, m}, {solution, m}, {pivot, m})) return mean;
    return solution[0];
}

// The fit at the samples delta apart (always the last two), the rest on the straight lines between them.
void fit_all(std::span<const double> t, std::span<const double> v, const LoessParams& p, std::size_t points,
             double delta, std::span<double> out, LoessWorkspace& ws) {
    const std::size_t n = t.size();
    ws.fitted.clear();
    std::size_t left = 0;
    for (std::size_t i = 0; i < n;) {
        while (left + points < n && t[i] - t[left] > t[left + points] - t[i]) ++left;
        out[i] = local_fit(t, v, ws.robust, i, left, points, p.order);
        ws.fitted.push_back(i);
        if (i + 1 >= n) break;
        std::size_t next = i + 1;
        while (next < n && t[next] <= t[i] + delta) ++next;
        next = std::max(next - 1, i + 1);
        // The reference library fits the last but one sample before the last.
        if (next == n - 1 && i + 2 < n) next = n - 2;
        i = next;
    }
    for (std::size_t k = 1; k < ws.fitted.size(); ++k) {
        const std::size_t a = ws.fitted[k - 1], b = ws.fitted[k];
        for (std::size_t j = a + 1; j < b; ++j) {
            const double share = (t[j] - t[a]) / (t[b] - t[a]);
            out[j] = out[a] + share * (out[b] - out[a]);
        }
    }
}

// Bisquare weights of the residuals over scale MADs; with asymmetric weights the samples below the fit keep 1.
void reweight(std::span<const double> y, std::span<const double> fit, std::span<const double> used,
              const LoessParams& p, LoessWorkspace& ws) {
    ws.residuals.clear();
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (used[i] > 0.0) ws.residuals.push_back(std::fabs(y[i] - fit[i]));
    }
    const auto middle = ws.residuals.begin() + static_cast<std::ptrdiff_t>(ws.residuals.size() / 2);
    std::nth_element(ws.residuals.begin(), middle, ws.residuals.end());
    double median = *middle;
    if (ws.residuals.size() % 2 == 0) median = 0.5 * (median + *std::max_element(ws.residuals.begin(), middle));
    const double spread = p.scale * median / quartile;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - fit[i];
        const double u = spread > 0.0 ? r / spread : (r == 0.0 ? 0.0 : 1.0);
        double w = std::fabs(u) < 1.0 ? (1.0 - u * u) * (1.0 - u * u) : 0.0;
        if (!p.symmetric_weights && r < 0.0) w = 1.0;
        ws.robust[i] = used[i] > 0.0 ? w : 0.0;
    }
}

void clip(std::span<const double> y, std::span<const double> fit, std::span<const double> used,
          const LoessParams& p, LoessWorkspace& ws) {
    const double limit = p.num_std * used_deviation(ws.work, fit, used);
    const std::span<const double> source = p.use_original ? y : std::span<const double>(ws.work);
    for (std::size_t i = 0; i < y.size(); ++i) ws.work[i] = std::min(source[i], fit[i] + limit);
}

}  // namespace

Result<FitReport> loess_into(std::span<const double> y, std::span<const double> x, Mask mask,
                             const LoessParams& params, std::span<double> out, LoessWorkspace& ws,
                             std::vector<double>* history) {
    if (history) history->clear();
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (!mask.empty() && mask.size() != n) return LengthMismatch{"mask", n, mask.size()};
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_masked_out(mask, i) && is_non_finite(y[i])) return NonFiniteInput{i};
    }
    if (out.size() != n) return LengthMismatch{"baseline", n, out.size()};
    const auto wanted = params.total_points != 0 ? params.total_points
                                                 : static_cast<std::uint64_t>(std::ceil(params.fraction * n));
    if (auto valid = check(y, mask, params, wanted); !valid) return valid.error();
    if (params.order > 10) return InvalidParameter{"poly_order", "must be at most 10"};
    if (auto placed = place(x, n, ws.positions); !placed) return placed.error();
    const std::span<const double> t = ws.positions;
    const double delta = std::isnan(params.delta) ? 0.01 * (t[n - 1] - t[0]) : params.delta;
    std::vector<double> used(n);
    for (std::size_t i = 0; i < n; ++i) used[i] = is_masked_out(mask, i) ? 0.0 : 1.0;
    ws.robust = used;
    ws.work.assign(y.begin(), y.end());
    std::copy(y.begin(), y.end(), out.begin());  // the first change compares the first fit with the data
    FitReport report{};
    const IterationLimits fits{params.limits.tol, params.limits.max_iter + 1};
    for (std::uint64_t iteration = 1;; ++iteration) {
        ws.previous.assign(out.begin(), out.end());
        fit_all(t, ws.work, params, static_cast<std::size_t>(wanted), delta, out, ws);
        const double change = relative_change(ws.previous, out, used);
        if (finish_iteration(change, iteration, fits, report, history)) return report;
        if (params.use_threshold) {
            clip(y, out, used, params, ws);
        } else {
            reweight(y, out, used, params, ws);
        }
    }
}

}  // namespace quorvel::polynomial
