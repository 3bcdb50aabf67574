// The component-tree estimate of the settling half window against the ladder of openings it replaces.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "morphology/extrema.hpp"
#include "morphology/window_estimate.hpp"
#include "support.hpp"

namespace quorvel {
namespace {

using morphology::WindowSearch;
using support::V;

double relative_change(const V& old, const V& now) {
    double d2 = 0.0, n2 = 0.0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        d2 += (now[i] - old[i]) * (now[i] - old[i]);
        n2 += old[i] * old[i];
    }
    if (n2 > 0.0) return std::sqrt(d2 / n2);
    return d2 > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
}

std::size_t ladder(const V& y, WindowSearch search) {
    const std::size_t most = search.max_half_window ? search.max_half_window : (y.size() - 1) / 2;
    std::size_t h = search.min_half_window, hits = 0;
    V previous = morphology::opening_reflect(y, h);
    for (std::size_t next = h + 1; next < most; ++next) {
        h = next;
        V current = morphology::opening_reflect(y, h);
        hits = relative_change(previous, current) < search.window_tol ? hits + 1 : 0;
        if (hits == search.max_hits) return h - hits;
        previous = std::move(current);
    }
    return h;
}

// Plateaus and ties (values drawn from a few levels), lone spikes and smooth humps, short and long.
V signal(std::mt19937_64& rng, std::size_t n, int kind) {
    V y(n);
    std::uniform_int_distribution<int> level(0, 4);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(n);
        switch (kind) {
            case 0: y[i] = level(rng); break;
            case 1: y[i] = 3.0 + x + 5.0 * std::exp(-std::pow((x - 0.4) / 0.03, 2)) + 0.01 * noise(rng); break;
            case 2: y[i] = noise(rng) - 7.0; break;
        }
    }
    return y;
}

TEST(WindowEstimate, every_opening_read_off_the_tree_matches_the_ladder) {
    std::mt19937_64 rng(11);
    const WindowSearch searches[] = {{}, {1, 0, 1, 1e-6}, {2, 0, 3, 1e-3}, {1, 12, 2, 1e-2}, {3, 0, 5, 0.05}};
    for (const std::size_t n : {3u, 8u, 25u, 64u, 301u}) {
        for (int kind = 0; kind < 3; ++kind) {
            const V y = signal(rng, n, kind);
            for (const WindowSearch& search : searches) {
                EXPECT_EQ(morphology::estimate_half_window(y, search), ladder(y, search))
                    << "n " << n << " kind " << kind << " min " << search.min_half_window << " hits "
                    << search.max_hits << " tol " << search.window_tol;
            }
        }
    }
}

TEST(WindowEstimate, signals_too_short_for_a_ladder_give_the_smallest_window) {
    EXPECT_EQ(morphology::estimate_half_window(V{}), 1u);
    EXPECT_EQ(morphology::estimate_half_window(V{2.0, 1.0, 3.0, 0.5, 4.0}), 1u);
    EXPECT_EQ(morphology::estimate_half_window(V{1.0, 2.0}, {4, 0, 3, 1e-6}), 4u);
}

// A window far past the line: the direct definition's extremum and its earliest candidate (the sign of a zero
// tells which), while the scratch, the block the pass works through, stays within a few lines' length.
TEST(WindowEstimate, windows_past_the_line_cost_the_line_not_the_window) {
    const V line = {0.0, -0.0, 3.0, -0.0, 0.0, 2.0, 0.0};
    const auto lower = [](double a, double b) { return a < b; };
    for (const std::size_t n : {1u, 2u, 3u, 7u}) {
        const std::span<const double> x(line.data(), n);
        for (const std::size_t h : {n, 2 * n + 1, 5 * n + 3, std::size_t{100000}}) {
            std::vector<double> scratch;
            V out(n);
            morphology::sliding_extremum<1, false>(
                n, h, 1, [&](std::size_t p) { return &x[p]; }, out.data(), 1, 1.0, lower, scratch);
            EXPECT_LE(scratch.size(), 2 * (6 * n - 3));
            for (std::size_t i = 0; i < n; ++i) {
                double best = 1.0;
                for (std::size_t k = 0; k <= 2 * h; ++k) {
                    const auto j = static_cast<std::int64_t>(i + k) - static_cast<std::int64_t>(h);
                    best = std::min(best, x[morphology::reflect_index(j, n)]);
                }
                EXPECT_EQ(std::signbit(out[i]), std::signbit(best)) << "n " << n << " h " << h << " at " << i;
                EXPECT_EQ(out[i], best);
            }
        }
    }
}

}  // namespace
}  // namespace quorvel
