// Timing of the core's hot kernels against their plain forms, measured in one run on one core:
// many-spectrum Whittaker fits on each lane path against the loop of single fits, the one-spectrum
// second-difference solve against its separate band passes, and the order-2 polynomial against the
// general-order loop, and the grid Whittaker fits on each solver. Usage: quorvel_kernels [repeats] [name...]:
// with names, only the parts named (solve, poly, grid, or a Whittaker rule such as psalsa).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "linalg/pentadiagonal.hpp"
#include "polynomial/polynomial.hpp"
#include "simd/cpu.hpp"
#include "whittaker/lanes/many.hpp"
#include "whittaker/two_d/whittaker.hpp"

using namespace quorvel;

namespace {

using V = std::vector<double>;

// Median and minimum in ms of `repeats` calls.
template <class F>
std::pair<double, double> time_ms(int repeats, F call) {
    std::vector<double> t;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        call();
        t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    return {t[t.size() / 2], t.front()};
}

// Peaks of random width and height on a curved background with noise, as bench/inputs.py makes them.
V spectrum(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::lognormal_distribution<double> height(2.0, 0.8);
    std::normal_distribution<double> noise(0.0, 0.3);
    V y(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(n - 1);
        y[i] = 40.0 + 25.0 * x - 30.0 * x * x + 12.0 * std::exp(-4.0 * x) + 3.0 * std::sin(3.0 * M_PI * x);
    }
    for (std::size_t p = 0; p < std::max<std::size_t>(6, n / 400); ++p) {
        const double centre = unit(rng) * static_cast<double>(n), width = 2.0 + 23.0 * unit(rng), h = height(rng);
        const bool lorentzian = unit(rng) < 0.5;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = (static_cast<double>(i) - centre) / width;
            y[i] += h * (lorentzian ? 1.0 / (1.0 + t * t) : std::exp(-0.5 * t * t));
        }
    }
    for (double& v : y) v += noise(rng);
    return y;
}

template <class Rule>
void time_whittaker(const char* name, const Rule& rule, double lambda, std::size_t count, std::size_t n,
                    int repeats, std::uint64_t max_iter = 50) {
    V ys;
    for (std::size_t k = 0; k < count; ++k) {
        const V y = spectrum(n, 20251206 + k);
        ys.insert(ys.end(), y.begin(), y.end());
    }
    const whittaker::WhittakerParams params{lambda, max_iter, 1e-3};
    std::vector<whittaker::ItemOutcome> outcomes(count);
    V reference(ys.size()), baselines(ys.size());
    auto run = [&](whittaker::LanePath path, V& out) {
        return time_ms(repeats, [&] {
            whittaker::fit_many(ys, n, params, rule, {}, whittaker::StopRule::WeightChange, out, outcomes, path);
        });
    };
    const auto loop = run(whittaker::LanePath::ScalarLoop, reference);
    std::uint64_t iterations = 0;
    for (const auto& o : outcomes) iterations += o.report.iterations;
    std::printf("%-9s %5zu x %-6zu mean iterations %5.1f  loop %8.1f ms (min %8.1f)\n", name, count, n,
                double(iterations) / double(count), loop.first, loop.second);
    const std::pair<const char*, whittaker::LanePath> paths[] = {{"interleaved", whittaker::LanePath::Interleaved},
                                                                 {"avx2", whittaker::LanePath::Avx2}};
    for (const auto& [label, path] : paths) {
        if (!whittaker::lane_path_available(path)) continue;
        std::fill(baselines.begin(), baselines.end(), 0.0);
        const auto t = run(path, baselines);
        const bool same = std::memcmp(baselines.data(), reference.data(), ys.size() * sizeof(double)) == 0;
        std::printf("          %-11s %8.1f ms (min %8.1f)  ratio %.2f (min/min %.2f)%s\n", label, t.first, t.second,
                    loop.first / t.first, loop.second / t.second, same ? "" : "  BASELINES DIFFER");
    }
}

void time_pentadiagonal(std::size_t n, int repeats) {
    namespace pd = linalg::pentadiagonal;
    const V y = spectrum(n, 1);
    V w(n), z(n), z_separate(n);
    std::mt19937_64 rng(2);
    for (double& v : w) v = std::uniform_real_distribution<double>(0.01, 1.0)(rng);
    pd::PentadiagonalWorkspace ws(n), separate(n);
    const int inner = static_cast<int>(std::max<std::size_t>(1, 2000000 / n));
    // The former solve: bands and right-hand side in passes of their own, then the factorisation.
    const auto before = time_ms(repeats, [&] {
        for (int k = 0; k < inner; ++k) {
            separate.resize(n);
            pd::fill_second_order_bands(w, separate.diag, separate.off1, separate.off2, 1e6);
            for (std::size_t i = 0; i < n; ++i) separate.rhs[i] = w[i] * y[i];
            (void)pd::factor_and_solve(z_separate, separate);
        }
    });
    const auto after = time_ms(repeats, [&] {
        for (int k = 0; k < inner; ++k) (void)pd::solve_second_order(y, w, z, ws, 1e6);
    });
    const double per = 1e6 / double(inner) / double(n);
    std::printf("solve   n = %-7zu separate passes %6.2f ns/sample (min %6.2f)  fused %6.2f (min %6.2f)  gain %4.1f %%%s\n", n,
                before.first * per, before.second * per, after.first * per, after.second * per,
                100.0 * (1.0 - after.first / before.first), z == z_separate ? "" : "  SOLUTIONS DIFFER");
}

void time_polynomial(std::size_t n, int repeats) {
    const V y = spectrum(n, 3);
    V out(n), general(n);
    const std::unique_ptr<bool[]> all(new bool[n]);
    std::fill_n(all.get(), n, true);
    const auto slow = time_ms(repeats, [&] { (void)polynomial::poly_masked_into(y, 2, {all.get(), n}, general); });
    const auto fast = time_ms(repeats, [&] { (void)polynomial::poly_into(y, 2, out); });
    const double per = 1e6 / double(n);
    std::printf("poly    n = %-7zu general loop %6.2f ns/sample (min %6.2f)  order-2 path %5.2f (min %5.2f)%s\n", n,
                slow.first * per, slow.second * per, fast.first * per, fast.second * per,
                out == general ? "" : "  BASELINES DIFFER");
}

// A grid of spectra whose background drifts down the rows.
V grid(std::size_t rows, std::size_t cols) {
    V data;
    for (std::size_t r = 0; r < rows; ++r) {
        V row = spectrum(cols, 20251207 + r);
        for (double& v : row) v += 10.0 * std::sin(3.0 * double(r) / double(rows));
        data.insert(data.end(), row.begin(), row.end());
    }
    return data;
}

// On 16 x 24 the conjugate-gradient solver hands every system to the banded solve.
void time_grid(std::size_t rows, std::size_t cols, two_d::whittaker::GridSolver solver, int repeats) {
    namespace tw = two_d::whittaker;
    const V data = grid(rows, cols);
    const two_d::Grid g{data, rows, cols};
    const tw::Whittaker2DParams params{std::nullopt, std::nullopt, 1e4, 50, 1e-3, 500, 1e-6};
    std::uint64_t it[2] = {};
    const auto asls = time_ms(repeats, [&] { it[0] = tw::asls(g, {params, 0.01}, solver).value().report.iterations; });
    const auto arpls = time_ms(repeats, [&] { it[1] = tw::arpls(g, params, solver).value().report.iterations; });
    std::printf("grid    %4zu x %-4zu %-9s asls %8.1f ms (min %8.1f, %2llu it)  arpls %8.1f ms (min %8.1f, %2llu it)\n",
                rows, cols, solver == tw::GridSolver::multigrid ? "multigrid" : "cg", asls.first, asls.second,
                static_cast<unsigned long long>(it[0]), arpls.first, arpls.second, static_cast<unsigned long long>(it[1]));
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::vector<std::string> names(argv + std::min(argc, 2), argv + argc);
    const auto wanted = [&](const char* name) {
        return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
    };
    std::printf("AVX2 %s; medians of %d runs\n", simd::avx2_available() ? "available" : "not available", repeats);
    using two_d::whittaker::GridSolver;
    if (wanted("grid")) {
        for (const auto& [rows, cols] : {std::pair<std::size_t, std::size_t>{16, 24}, {100, 150}}) {
            time_grid(rows, cols, GridSolver::conjugate_gradients, repeats);
        }
        for (const auto& [rows, cols] : {std::pair<std::size_t, std::size_t>{16, 24}, {100, 150}, {300, 400}}) {
            time_grid(rows, cols, GridSolver::multigrid, repeats);
        }
    }
    if (wanted("solve")) {
        for (std::size_t n : {1000, 10000, 100000}) time_pentadiagonal(n, repeats);
    }
    if (wanted("poly")) time_polynomial(1000000, repeats);
    namespace w = whittaker;
    constexpr double from_data = std::numeric_limits<double>::quiet_NaN();
    // Each rule at the defaults of its method.
    for (const auto& [count, n] : {std::pair<std::size_t, std::size_t>{1000, 1000}, {100, 10000}}) {
        const auto rule = [&](const char* name, const auto& weights, double lambda, std::uint64_t max_iter = 50) {
            if (wanted(name)) time_whittaker(name, weights, lambda, count, n, repeats, max_iter);
        };
        rule("asls", w::AslsWeights{0.01}, 1e6);
        rule("arpls", w::ArPlsWeights{}, 1e6);
        rule("airpls", w::AirPlsWeights{}, 1e6);
        rule("iasls", w::IaslsWeights{0.01, 1e-4}, 1e6);
        rule("drpls", w::DrPlsWeights{0.5}, 1e5);
        rule("iarpls", w::IarPlsWeights{}, 1e5);
        rule("aspls", w::AsPlsWeights{0.5}, 1e5, 100);
        rule("psalsa", w::PsalsaWeights{0.5, from_data}, 1e5);
        rule("derpsalsa", w::DerPsalsaWeights{0.01, from_data, 0, 16}, 1e6);
        rule("brpls", w::BrPlsWeights{50, 1e-3}, 1e5);
        rule("lsrpls", w::LsrPlsWeights{}, 1e5);
    }
}
