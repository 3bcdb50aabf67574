#include "gaussian.hpp"

#include <algorithm>
#include <cmath>

#include "linalg/fft.hpp"
#include "linalg/symmetric_sums.hpp"

namespace quorvel::smoothing {
namespace {

// The index of x that position i of the endlessly mirrored sequence reads.
std::size_t mirrored(std::ptrdiff_t i, std::size_t n) {
    if (n == 1) return 0;
    const auto period = static_cast<std::ptrdiff_t>(2 * (n - 1));
    const std::ptrdiff_t folded = ((i % period) + period) % period;
    return static_cast<std::size_t>(folded < static_cast<std::ptrdiff_t>(n) ? folded : period - folded);
}

}  // namespace

void convolve_symmetric(std::span<const double> e, std::span<const double> kernel, std::span<double> out) {
    linalg::symmetric_sums<linalg::TapOrder::centre_out>()(e.data(), kernel.data(), kernel.size() / 2, out.data(),
                                                           out.size());
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

namespace {

// x reflected about its ends, from position start (which may be negative) for extended.size() values.
void mirror_into(std::span<const double> x, std::ptrdiff_t start, std::vector<double>& extended) {
    const auto n = static_cast<std::ptrdiff_t>(x.size());
    for (std::size_t i = 0; i < extended.size(); ++i) {
        const std::ptrdiff_t at = start + static_cast<std::ptrdiff_t>(i);
        extended[i] = at >= 0 && at < n ? x[static_cast<std::size_t>(at)] : x[mirrored(at, x.size())];
    }
}

// Direct sums for outputs [from, to), through a reflected copy of only what they read.
void convolve_part(std::span<const double> x, std::span<const double> kernel, std::ptrdiff_t start,
                   std::size_t from, std::size_t to, std::span<double> out, std::vector<double>& extended) {
    if (from == to) return;
    const std::size_t s = kernel.size() / 2;
    extended.resize(to - from + 2 * s);
    mirror_into(x, start + static_cast<std::ptrdiff_t>(from), extended);
    convolve_symmetric(extended, kernel, out.subspan(from, to - from));
}

}  // namespace

void convolve_mirror(std::span<const double> x, std::span<const double> kernel, std::size_t first,
                     std::span<double> out, std::vector<double>& extended) {
    const std::size_t n = x.size(), s = kernel.size() / 2, count = out.size();
    const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(first) - static_cast<std::ptrdiff_t>(s);
    // The packed direct sums cost about a thirtieth of a transform step per tap (measured on 10^3 to 10^5 samples).
    if (linalg::transform_pays(kernel.size(), count + 2 * s, 1.0 / 30.0)) {
        extended.resize(count + 2 * s);
        mirror_into(x, start, extended);
        linalg::FftConvolver(kernel, extended.size()).valid(extended, out);
        return;
    }
    // Only the outputs whose taps reach past x read a reflected copy; the others read x itself (each output's
    // sum is the same either way), which spares a copy of the length.
    const std::size_t inner_from = std::min(count, s > first ? s - first : 0);
    const std::size_t inner_to = std::max(inner_from, std::min(count, n + 1 > first + s ? n - first - s : 0));
    convolve_part(x, kernel, start, 0, inner_from, out, extended);
    if (inner_to > inner_from) {
        convolve_symmetric(x.subspan(first + inner_from - s, inner_to - inner_from + 2 * s), kernel,
                           out.subspan(inner_from, inner_to - inner_from));
    }
    convolve_part(x, kernel, start, inner_to, count, out, extended);
}

}  // namespace quorvel::smoothing
