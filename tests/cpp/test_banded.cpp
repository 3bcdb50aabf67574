#include "core/numeric.hpp"
#include "linalg/banded.hpp"
#include "support.hpp"

using namespace quorvel;
using namespace quorvel::support;
using quorvel::linalg::banded::SymmetricBandedWorkspace;

namespace {

// Writes the lower bands of the dense n x n matrix `a` and poisons the tails past the matrix:
// a solver that reads them returns NaN, one that writes them clears the poison.
void fill(SymmetricBandedWorkspace& ws, const V& a, std::size_t n, std::size_t bw) {
    ws.reset(n, bw);
    for (std::size_t i = 0; i < ws.bands.size(); ++i) {
        const std::size_t d = i / n, k = i % n;
        ws.bands[i] = k + d < n ? a[(k + d) * n + k] : kNaN;
    }
}

}  // namespace

TEST(Banded, solves_known_and_random_band_systems) {
    SymmetricBandedWorkspace ws;
    V x(1);
    fill(ws, {4.0}, 1, 0);
    EXPECT_TRUE(ws.solve_spd(V{2.0}, x) && x[0] == 0.5);
    fill(ws, {}, 0, 3);
    EXPECT_TRUE(ws.solve_spd(V{}, std::span<double>()));
    std::mt19937_64 rng(5);
    for (auto [n, bw] : {std::pair<std::size_t, std::size_t>{2, 1}, {7, 2}, {12, 4}, {9, 8}, {6, 11}, {40, 6}}) {
        // Off-diagonal entries below 1 in size keep the matrix diagonally dominant, hence positive definite.
        const V off = uniform(rng, n * n, -1, 1), expected = uniform(rng, n, -3, 3);
        V a(n * n, 0.0), b(n, 0.0), got(n, kNaN);
        for (std::size_t i = 0; i < n * n; ++i) {
            const std::size_t lo = std::min(i / n, i % n), hi = std::max(i / n, i % n);
            a[i] = lo == hi ? 2.0 * static_cast<double>(bw) + 1.0 : hi - lo <= bw ? off[lo * n + hi] : 0.0;
            b[i / n] += a[i] * expected[i % n];
        }
        fill(ws, a, n, bw);
        ASSERT_TRUE(ws.solve_spd(b, got)) << "n=" << n << " bw=" << bw;
        expect_near_all(got, expected, 1e-12);
        for (std::size_t i = 0; i < ws.bands.size(); ++i) EXPECT_EQ(std::isnan(ws.bands[i]), i / n + i % n >= n);
    }
}

TEST(Banded, failures_leave_the_outputs_untouched) {
    struct Case { V a; std::size_t rhs, out, inter, bands; std::string text; };
    const std::string indefinite = "linear solve failed: matrix was not positive definite";
    for (const auto& c : {Case{{2, 1, 1, 2}, 1, 3, 1, 2, "length mismatch for rhs: expected 2, got 1"},
                          Case{{2, 1, 1, 2}, 2, 1, 2, 5, "length mismatch for output: expected 2, got 1"},
                          Case{{2, 1, 1, 2}, 2, 2, 3, 5, "length mismatch for intermediate: expected 2, got 3"},
                          Case{{2, 1, 1, 2}, 2, 2, 2, 3, "length mismatch for bands: expected 4, got 3"},
                          Case{{epsilon, 0, 0, 1}, 2, 2, 2, 4, indefinite},
                          Case{{4, 2, 2, 1}, 2, 2, 2, 4, indefinite},            // the pivot of row 1 is 0
                          Case{{1, 1, 1, 1 + epsilon}, 2, 2, 2, 4, indefinite},  // ... and here epsilon
                          Case{{2 * epsilon, 0, 0, 1}, 2, 2, 2, 4, "ok"}}) {
        SymmetricBandedWorkspace ws;
        fill(ws, c.a, 2, 1);
        ws.bands.resize(c.bands, 0.0);
        ws.intermediate.assign(c.inter, 7.0);
        V out(c.out, 9.0);
        EXPECT_EQ(outcome(ws.solve_spd(V(c.rhs, 1.0), out)), c.text);
        if (c.text == "ok") continue;
        EXPECT_TRUE(out == V(c.out, 9.0) && ws.intermediate == V(c.inter, 7.0)) << c.text;
    }
}
