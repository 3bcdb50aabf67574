#include "peak_filling.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::smoothing {
namespace {

// Run k of `sections` covers [first(k), first(k + 1)): k · (n / sections) rounded down, as evenly spaced
// boundaries are usually cut.
std::size_t run_start(std::size_t k, std::size_t n, std::size_t sections) {
    if (k == sections) return n;
    return static_cast<std::size_t>(static_cast<double>(k) * (static_cast<double>(n) / static_cast<double>(sections)));
}

// The minimum of each run at its middle, with the end samples joined where a middle is not one; returns how
// many end samples were joined.
std::size_t subsample(std::span<const double> v, std::size_t sections, PeakFillingWorkspace& work) {
    const std::size_t n = v.size();
    work.low.clear();
    work.at.clear();
    for (std::size_t k = 0; k < sections; ++k) {
        const std::size_t first = run_start(k, n, sections), end = run_start(k + 1, n, sections);
        work.low.push_back(*std::min_element(v.begin() + static_cast<std::ptrdiff_t>(first),
                                             v.begin() + static_cast<std::ptrdiff_t>(end)));
        work.at.push_back(static_cast<double>(first + end - 1) / 2.0);
    }
    std::size_t joined = 0;
    if (work.at.front() > 0.0) {
        work.low.insert(work.low.begin(), v.front());
        work.at.insert(work.at.begin(), 0.0);
        ++joined;
    }
    if (work.at.back() < static_cast<double>(n - 1)) {
        work.low.push_back(v.back());
        work.at.push_back(static_cast<double>(n - 1));
        ++joined;
    }
    return joined;
}

// The half windows of the iterations: half_window down to 1, evenly spaced in the logarithm, rounded up.
std::uint64_t half_window_at(std::uint64_t first, std::uint64_t iteration, std::uint64_t iterations) {
    if (iteration == 0) return first;
    if (iteration + 1 == iterations) return 1;
    const double start = std::log10(static_cast<double>(first));
    const double step = (0.0 - start) / static_cast<double>(iterations - 1);
    return static_cast<std::uint64_t>(std::ceil(std::pow(10.0, static_cast<double>(iteration) * step + start)));
}

// low[j] <- min(low[j], mean of low[j - v .. j + v]) with v = min(j - before, w, k - 1 - after - j), skipped
// where v < 1.
void suppress(std::span<double> low, std::size_t j, std::uint64_t w, std::size_t before, std::size_t after) {
    const std::size_t k = low.size();
    if (j < before + 1 || j + after + 1 >= k) return;
    const std::size_t v = std::min<std::size_t>({j - before, w, k - 1 - after - j});
    double sum = 0.0;
    for (std::size_t i = j - v; i <= j + v; ++i) sum += low[i];
    low[j] = std::min(low[j], sum / static_cast<double>(2 * v + 1));
}

// Straight lines through (at, low) at every sample.
void stretch(std::span<const double> at, std::span<const double> low, std::span<double> baseline) {
    std::size_t j = 0;
    for (std::size_t i = 0; i < baseline.size(); ++i) {
        const double t = static_cast<double>(i);
        while (j + 2 < at.size() && at[j + 1] <= t) ++j;
        if (at.size() == 1) {
            baseline[i] = low[0];
            continue;
        }
        const double slope = (low[j + 1] - low[j]) / (at[j + 1] - at[j]);
        baseline[i] = slope * (t - at[j]) + low[j];
    }
}

}  // namespace

Result<FitReport> peak_filling_into(std::span<const double> y, const PeakFillingParams& params,
                                    std::span<double> baseline, PeakFillingWorkspace& work, WindowEstimate estimate,
                                    std::uint64_t* decided) {
    const std::size_t n = y.size();
    if (n == 0) return EmptyInput{};
    if (auto bad = first_non_finite(y)) return NonFiniteInput{*bad};
    if (baseline.size() != n) return LengthMismatch{"baseline", n, baseline.size()};
    if (params.sections == 0 || params.sections > n) {
        return InvalidParameter{"sections", "must be from 1 to the data's length"};
    }
    if (params.max_iter == 0) return InvalidParameter{"max_iter", "must be at least 1"};
    if (!std::isfinite(params.lam_smooth) || params.lam_smooth < 0.0) {
        return InvalidParameter{"lam_smooth", "must be finite and at least 0"};
    }
    std::span<const double> v = y;
    if (params.lam_smooth > 0.0 && n >= 3) {
        work.ones.assign(n, 1.0);
        work.smoothed.resize(n);
        work.smooth.resize(n);
        auto solved = linalg::pentadiagonal::solve_second_order(y, work.ones, work.smoothed, work.smooth,
                                                                params.lam_smooth);
        if (!solved) return solved.error();
        v = work.smoothed;
    }
    const std::size_t joined = subsample(v, params.sections, work);
    std::uint64_t half = params.half_window;
    if (half == 0) half = estimate(work.low);
    if (half == 0) return InvalidParameter{"half_window", "must be greater than zero"};
    if (decided) *decided = half;
    half = std::min<std::uint64_t>(half, (params.sections - 1) / 2);
    const std::size_t k = work.low.size();
    for (std::uint64_t iteration = 0; half > 0 && iteration < params.max_iter; ++iteration) {
        const std::uint64_t w = params.max_iter == 1 ? half : half_window_at(half, iteration, params.max_iter);
        for (std::size_t j = 0; j < k; ++j) suppress(work.low, j, w, 0, joined);
        for (std::size_t j = k; j-- > 0;) suppress(work.low, j, w, joined, 0);
    }
    stretch(work.at, work.low, baseline);
    return single_pass;
}

}  // namespace quorvel::smoothing
