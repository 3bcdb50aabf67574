#include "mpls.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "extrema.hpp"
#include "linalg/difference_penalty.hpp"

namespace quorvel::morphology {
namespace {

Status check(const MplsParams& params) {
    if (params.half_window == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (!std::isfinite(params.lam) || params.lam <= 0.0) return InvalidParameter{"lam", "must be finite and > 0"};
    if (!(params.p >= 0.0 && params.p <= 1.0)) return InvalidParameter{"p", "must be from 0 to 1"};
    if (params.diff_order == 0 || params.diff_order > linalg::max_difference_order) {
        return InvalidParameter{"diff_order", "must be 1, 2 or 3"};
    }
    return ok;
}

// 1 - p at the first lowest sample of every run of equal opening values, longer than one sample, that touches
// neither end; p elsewhere. Returns how many weights are positive.
std::size_t anchor_weights(std::span<const double> y, std::span<const double> opening, double p,
                           std::span<double> weights) {
    const std::size_t n = y.size();
    std::fill(weights.begin(), weights.end(), p);
    std::size_t anchors = 0;
    for (std::size_t start = 0, i = 1; i <= n; ++i) {
        if (i < n && opening[i] == opening[start]) continue;
        if (i - start > 1 && start > 0 && i < n) {
            const auto lowest = std::min_element(y.begin() + static_cast<std::ptrdiff_t>(start),
                                                 y.begin() + static_cast<std::ptrdiff_t>(i));
            weights[static_cast<std::size_t>(lowest - y.begin())] = 1.0 - p;
            ++anchors;
        }
        start = i;
    }
    if (p == 0.0) return anchors;
    return p == 1.0 ? n - anchors : n;
}

}  // namespace

Status mpls_anchors(std::span<const double> y, std::uint64_t half_window, double p, unsigned diff_order,
                    MplsWorkspace& work) {
    const std::size_t n = y.size();
    work.eroded.resize(n);
    work.opening.resize(n);
    work.weights.resize(n);
    moving_min_reflect(y, half_window, work.eroded);
    moving_max_reflect(work.eroded, half_window, work.opening);
    if (anchor_weights(y, work.opening, p, work.weights) < std::min<std::size_t>(diff_order, n)) {
        return InvalidParameter{"p", "0 leaves the baseline undetermined: the opening has fewer flat stretches "
                                     "away from the ends than diff_order; pass p > 0 or a smaller half_window"};
    }
    return ok;
}

Result<FitReport> mpls_into(std::span<const double> y, const MplsParams& params, std::span<double> baseline,
                            MplsWorkspace& work) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (auto checked = check(params); !checked) return checked.error();
    const auto order = static_cast<unsigned>(params.diff_order);
    if (auto anchored = mpls_anchors(y, params.half_window, params.p, order, work); !anchored) {
        return anchored.error();
    }
    if (auto solved = linalg::weighted_smooth(y, work.weights, params.lam, order, baseline, work.smooth); !solved) {
        return solved.error();
    }
    return single_pass;
}

}  // namespace quorvel::morphology
