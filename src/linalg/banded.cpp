#include "banded.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::linalg::banded {

void SymmetricBandedWorkspace::reset(std::uint64_t order, std::uint64_t band_count) {
    n = order;
    bandwidth = band_count;
    bands.assign(order * (band_count + 1), 0.0);
    intermediate.resize(order, 0.0);
}

Status SymmetricBandedWorkspace::solve_spd(std::span<const double> rhs, std::span<double> output) {
    if (rhs.size() != n) return LengthMismatch{"rhs", n, rhs.size()};
    if (output.size() != n) return LengthMismatch{"output", n, output.size()};
    if (intermediate.size() != n) return LengthMismatch{"intermediate", n, intermediate.size()};
    if (bands.size() != n * (bandwidth + 1)) return LengthMismatch{"bands", n * (bandwidth + 1), bands.size()};
    if (n == 0) return ok;
    if (auto factored = factor(); !factored) return factored;
    substitute(rhs, output);
    return ok;
}

// L(i, k) lives where A(i, k) was.
Status SymmetricBandedWorkspace::factor() {
    auto l = [&](std::size_t i, std::size_t k) -> double& { return bands[(i - k) * n + k]; };
    auto first = [&](std::size_t i) { return i > bandwidth ? i - bandwidth : 0; };
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t s = first(i);
        for (std::size_t k = s; k < i; ++k) {
            double t = l(i, k);
            for (std::size_t m = s; m < k; ++m) t = t - l(i, m) * l(k, m);
            l(i, k) = t / l(k, k);
        }
        double d = l(i, i);
        for (std::size_t m = s; m < i; ++m) d = d - l(i, m) * l(i, m);
        if (d <= epsilon) return not_positive_definite;
        l(i, i) = std::sqrt(d);
    }
    return ok;
}

void SymmetricBandedWorkspace::substitute(std::span<const double> rhs, std::span<double> output) {
    auto l = [&](std::size_t i, std::size_t k) { return bands[(i - k) * n + k]; };
    auto first = [&](std::size_t i) { return i > bandwidth ? i - bandwidth : 0; };
    std::fill(intermediate.begin(), intermediate.end(), 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t m = first(i); m < i; ++m) sum = sum + l(i, m) * intermediate[m];
        intermediate[i] = (rhs[i] - sum) / l(i, i);
    }

    std::fill(output.begin(), output.end(), 0.0);
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t last = std::min<std::size_t>(n - 1, i + bandwidth);
        double sum = 0.0;
        for (std::size_t m = i + 1; m <= last; ++m) sum = sum + l(m, i) * output[m];
        output[i] = (intermediate[i] - sum) / l(i, i);
    }
}

}  // namespace quorvel::linalg::banded
