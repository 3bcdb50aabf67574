#include "gaussian.hpp"

#include <algorithm>
#include <cmath>

#include "linalg/fft.hpp"

namespace quorvel::smoothing {
namespace {

// Outputs per block of the direct sums, which then stay in the first-level cache.
constexpr std::size_t block = 512;

// The index of x that position i of the endlessly mirrored sequence reads.
std::size_t mirrored(std::ptrdiff_t i, std::size_t n) {
    if (n == 1) return 0;
    const auto period = static_cast<std::ptrdiff_t>(2 * (n - 1));
    const std::ptrdiff_t folded = ((i % period) + period) % period;
    return static_cast<std::size_t>(folded < static_cast<std::ptrdiff_t>(n) ? folded : period - folded);
}

}  // namespace

void convolve_symmetric(std::span<const double> e, std::span<const double> kernel, std::span<double> out) {
    const std::size_t s = kernel.size() / 2;
    for (std::size_t start = 0; start < out.size(); start += block) {
        const std::size_t count = std::min(block, out.size() - start);
        double* o = out.data() + start;
        const double* middle = e.data() + start + s;
        for (std::size_t t = 0; t < count; ++t) o[t] = kernel[s] * middle[t];
        for (std::size_t j = 1; j <= s; ++j) {
            const double k = kernel[s - j];
            const double* left = middle - j;
            const double* right = middle + j;
            for (std::size_t t = 0; t < count; ++t) o[t] = o[t] + k * (left[t] + right[t]);
        }
    }
}

void gaussian_kernel(std::size_t s, double sigma, std::vector<double>& kernel) {
    kernel.resize(2 * s + 1);
    double sum = -0.0;
    for (std::size_t j = 0; j < kernel.size(); ++j) {
        const double t = (static_cast<double>(j) - static_cast<double>(s)) / sigma;
        kernel[j] = std::exp(-0.5 * t * t);
        sum = sum + kernel[j];
    }
    for (double& k : kernel) k = k / sum;
}

void convolve_mirror(std::span<const double> x, std::span<const double> kernel, std::size_t first,
                     std::span<double> out, std::vector<double>& extended) {
    const std::size_t n = x.size(), s = kernel.size() / 2;
    extended.resize(out.size() + 2 * s);
    const auto start = static_cast<std::ptrdiff_t>(first) - static_cast<std::ptrdiff_t>(s);
    for (std::size_t i = 0; i < extended.size(); ++i) {
        const std::ptrdiff_t at = start + static_cast<std::ptrdiff_t>(i);
        extended[i] = at >= 0 && at < static_cast<std::ptrdiff_t>(n) ? x[static_cast<std::size_t>(at)]
                                                                     : x[mirrored(at, n)];
    }
    // The direct sums cost about a seventh of a transform step per tap (measured on 10^3 to 10^5 samples).
    if (!linalg::transform_pays(kernel.size(), extended.size(), 1.0 / 7.0)) {
        convolve_symmetric(extended, kernel, out);
        return;
    }
    linalg::FftConvolver(kernel, extended.size()).valid(extended, out);
}

}  // namespace quorvel::smoothing
