#include "snip.hpp"

#include <algorithm>
#include <utility>

#include "core/extrapolated.hpp"
#include "core/numeric.hpp"
#include "lls.hpp"
#include "passes.hpp"

namespace quorvel::clipping {
namespace {

// The central-difference filters of orders 4, 6 and 8 (Morháč & Matoušek 2008): the weight of the pair of
// samples q = 1 .. k steps out, and the sum of the weights over both sides.
struct Filter {
    std::array<double, 4> weights;
    double total;
};
constexpr std::array<Filter, 3> higher_filters{{{{4, -1, 0, 0}, 6}, {{15, -6, 1, 0}, 20}, {{56, -28, 8, -1}, 70}}};

// The largest of the filters of orders 2 to 2K at position i, reaching `left` and `right` samples.
template <unsigned K>
struct Filters {
    // before[j][q], after[j][q]: the filter of order 2 (j + 1), the pair q + 1 steps out.
    std::array<std::array<std::size_t, 4>, 4> before{}, after{};
    std::size_t left, right;

    Filters(std::size_t reach_left, std::size_t reach_right) : left(reach_left), right(reach_right) {
        for (unsigned j = 1; j < K; ++j) {
            for (unsigned q = 0; q <= j; ++q) {
                before[j][q] = (q + 1) * left / (j + 1);
                after[j][q] = (q + 1) * right / (j + 1);
            }
        }
    }

    double operator()(const double* from, std::size_t i) const {
        double best = (from[i - left] + from[i + right]) * 0.5;
        for (unsigned j = 1; j < K; ++j) {
            const Filter& filter = higher_filters[j - 1];
            double sum = 0.0;
            for (unsigned q = j + 1; q-- > 0;) {
                sum = sum + filter.weights[q] * (from[i - before[j][q]] + from[i + after[j][q]]);
            }
            best = std::max(best, sum / filter.total);
        }
        return best;
    }
};

// Positions [first, end) of one pass; where the filter does not clip, the sample keeps its value, or with
// smoothing takes its moving average.
template <unsigned K>
void clip(const double* from, double* to, std::size_t first, std::size_t end, std::size_t left, std::size_t right,
          const double* means) {
    const Filters<K> filters(left, right);
    if (!means) {
        for (std::size_t i = first; i < end; ++i) to[i] = std::min(from[i], filters(from, i));
        return;
    }
    for (std::size_t i = first; i < end; ++i) {
        const double best = filters(from, i);
        to[i] = best < from[i] ? best : means[i];
    }
}

void clip_pass(std::uint64_t order, const double* from, double* to, std::size_t first, std::size_t end,
               std::size_t left, std::size_t right, const double* means) {
    switch (order) {
        case 2: clip<1>(from, to, first, end, left, right, means); return;
        case 4: clip<2>(from, to, first, end, left, right, means); return;
        case 6: clip<3>(from, to, first, end, left, right, means); return;
        case 8: clip<4>(from, to, first, end, left, right, means); return;
    }
}

// means[i] for i in [first, end): the mean of v over the 2s + 1 positions around i that lie in [0, size).
void moving_means(const double* v, std::size_t size, std::size_t s, std::size_t first, std::size_t end,
                  double* means) {
    std::fill(means + first, means + end, 0.0);
    // Offsets d reaching past the data (windows wider than it) read nothing.
    for (std::size_t d = 0; d <= 2 * s && d < size + s; ++d) {
        // Position i reads i + d - s.
        const std::size_t lo = std::max(first, s > d ? s - d : 0), hi = std::min(end, size + s - d);
        for (std::size_t i = lo; i < hi; ++i) means[i] = means[i] + v[i + d - s];
    }
    for (std::size_t i = first; i < end; ++i) {
        const std::size_t lo = i > s ? i - s : 0, hi = std::min(size - 1, i + s);
        means[i] = means[i] / static_cast<double>(hi - lo + 1);
    }
}

}  // namespace

Status check_snip(const SnipParams& params, std::array<std::uint64_t, 2> extents, bool spectrum) {
    for (std::size_t axis = 0; axis < 2; ++axis) {
        const std::uint64_t half = params.max_half_window[axis];
        if (half == 0) return InvalidParameter{"max_half_window", "must be at least 1"};
        if (half > extents[axis]) return InvalidParameter{"max_half_window", "must be at most the data's length"};
    }
    const std::uint64_t order = params.filter_order;
    if (spectrum ? (order < 2 || order > 8 || order % 2 != 0) : order != 2) {
        return InvalidParameter{"filter_order", spectrum ? "must be 2, 4, 6 or 8" : "must be 2 on grids"};
    }
    return ok;
}

Result<FitReport> snip_into(std::span<const double> y, const SnipParams& params, std::span<double> baseline,
                            SnipWorkspace& work) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (auto valid = check_snip(params, {n, n}, true); !valid) return valid.error();
    const std::size_t left = params.max_half_window[0], right = params.max_half_window[1];
    const std::size_t most = std::max(left, right), size = n + 2 * most, s = params.smooth_half_window;

    std::span<const double> source = y;
    if (params.lls) {
        if (auto valid = lls_forward(y, baseline); !valid) return valid.error();
        source = baseline;
    }
    work.current.resize(size);
    pad_extrapolated_into(source, most, work.current);
    work.next = work.current;
    if (s > 0) work.sums.resize(size);
    for (const std::size_t p : Passes{most, params.decreasing}) {
        const double* means = nullptr;
        if (s > 0) {
            moving_means(work.current.data(), size, s, p, size - p, work.sums.data());
            means = work.sums.data();
        }
        clip_pass(params.filter_order, work.current.data(), work.next.data(), p, size - p, std::min(p, left),
                  std::min(p, right), means);
        // Outside [p, size - p) the pass changes nothing.
        std::copy_n(work.current.data(), p, work.next.data());
        std::copy_n(work.current.data() + size - p, p, work.next.data() + size - p);
        std::swap(work.current, work.next);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double value = work.current[most + i];
        baseline[i] = params.lls ? lls_inverse(value) : value;
    }
    return single_pass;
}

}  // namespace quorvel::clipping
