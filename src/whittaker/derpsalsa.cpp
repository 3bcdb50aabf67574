#include "derpsalsa.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/bridge.hpp"
#include "linalg/fft.hpp"
#include "linalg/mollifier.hpp"
#include "psalsa.hpp"
#include "sample_kernels.hpp"

namespace quorvel::whittaker {
namespace {

// The least-squares line through values[0..m) at positions 0..m-1, evaluated at `at`.
double line_at(const double* values, std::size_t m, double at) {
    if (m == 1) return values[0];
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const double x = static_cast<double>(i);
        sx = sx + x, sy = sy + values[i], sxx = sxx + x * x, sxy = sxy + x * values[i];
    }
    const double count = static_cast<double>(m);
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    return (sy - slope * sx) / count + slope * at;
}

double mean_square(const std::vector<double>& values) {
    double sum = 0.0;
    for (const double value : values) sum = sum + value * value;
    return sum / static_cast<double>(values.size());
}

std::vector<double> gradient(std::span<const double> s) {
    const std::size_t n = s.size();
    std::vector<double> d(n);
    d[0] = s[1] - s[0];
    for (std::size_t i = 1; i + 1 < n; ++i) d[i] = (s[i + 1] - s[i - 1]) / 2.0;
    d[n - 1] = s[n - 1] - s[n - 2];
    return d;
}

// `times` moving averages of s, each over s reflected about its end samples, as one: s extended by
// reflection without end is periodic, every symmetric average keeps it so, and all of them together are
// one average with the window convolved with itself `times` times.
void smooth_through_transforms(std::vector<double>& s, const std::vector<double>& kernel, std::uint64_t times) {
    const std::size_t len = s.size(), period = 2 * (len - 1), reach = times * (kernel.size() / 2);
    std::vector<double> extended(len + 2 * reach);
    for (std::size_t e = 0; e < extended.size(); ++e) {
        const std::size_t r = (e + period - reach % period) % period;  // position e - reach, modulo the period
        extended[e] = s[r < len ? r : period - r];
    }
    linalg::FftConvolver fft(kernel, extended.size(), times);
    fft.valid(extended, s);
}

// The same pass by pass, each over s reflected about its end samples (which are not repeated), by the sums
// amormol and mormol take, several outputs at once.
void smooth_directly(std::vector<double>& s, std::size_t h, std::uint64_t times) {
    linalg::Mollifier pass(h, s.size());
    for (std::uint64_t k = 0; k < times; ++k) pass(s, s);
}

}  // namespace

void mollify(std::span<const double> y, std::size_t h, std::uint64_t times, std::span<double> out) {
    const std::size_t n = y.size(), len = n + 2 * h;
    std::vector<double> s(len);
    const std::size_t m = std::min(h, n);
    for (std::size_t j = 0; j < h; ++j) {
        s[j] = line_at(y.data(), m, static_cast<double>(j) - static_cast<double>(h));
        s[h + n + j] = line_at(y.data() + n - m, m, static_cast<double>(m + j));
    }
    std::copy(y.begin(), y.end(), s.begin() + static_cast<std::ptrdiff_t>(h));
    // Past a few dozen samples a window costs less through Fourier transforms than summed directly.
    if (2 * h + 1 > 48) {
        smooth_through_transforms(s, linalg::mollifier(h), times);
    } else {
        smooth_directly(s, h, times);
    }
    std::copy_n(s.begin() + static_cast<std::ptrdiff_t>(h), n, out.begin());
}

void derivative_screen(std::span<const double> smooth, std::span<double> screen) {
    const std::vector<double> d1 = gradient(smooth), d2 = gradient(d1);
    const double m1 = mean_square(d1), m2 = mean_square(d2);
    const auto kernels = sample_kernels();
    const std::size_t packed = in_packs(kernels, smooth.size());
    if (packed) kernels->derivative_screen(d1.data(), d2.data(), screen.data(), packed, m1, m2);
    using One = simd::ScalarPack<1>;
    for (std::size_t i = packed; i < smooth.size(); ++i) {
        screen[i] = (screen_factor(One::splat(d1[i]), m1) * screen_factor(One::splat(d2[i]), m2)).v[0];
    }
}

DerPsalsaRun start(const DerPsalsaWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace) {
    const std::size_t n = y.size();
    set_uniform_weights(workspace.iter.weights, mask);
    // The smoothing reads every sample, so masked-out ones take the line between their used neighbours.
    auto& smooth = workspace.rhs;
    smooth.resize(n);
    bridge_masked(y, mask, smooth);
    const std::size_t h = std::min<std::size_t>(rule.smooth_half_window ? rule.smooth_half_window : n / 200, n - 1);
    if (h > 0 && rule.num_smooths > 0) mollify(smooth, h, rule.num_smooths, smooth);
    workspace.state.resize(n);
    derivative_screen(smooth, workspace.state);
    const double k = std::isnan(rule.k) ? used_deviation(y, mask) / 10.0 : rule.k;
    return {rule.p, k, workspace.state};
}

double update_masked(const DerPsalsaRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t, Mask mask) {
    const auto kernels = sample_kernels();
    return rewrite_in_chunks(weights, mask, [&](std::size_t from, std::span<double> chunk) {
        const std::size_t packed = in_packs(kernels, chunk.size());
        if (packed) {
            kernels->derpsalsa_weights(y.data() + from, baseline.data() + from, rule.screen.data() + from,
                                       chunk.data(), packed, rule.p, rule.k);
        }
        using One = simd::ScalarPack<1>;
        for (std::size_t j = packed; j < chunk.size(); ++j) {
            const One d = One::splat(y[from + j] - baseline[from + j]);
            const One decay =
                derpsalsa_decay(d, One::splat(rule.p), One::splat(1.0 - rule.p), One::splat(1.0 / rule.k));
            chunk[j] = rule.screen[from + j] * decay.v[0];
        }
    });
}

}  // namespace quorvel::whittaker
