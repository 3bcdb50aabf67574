#include "band_cholesky_rows.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::linalg::banded {
namespace {

// Four running sums, so that the products pipeline; the order of the additions is fixed, so are the bits.
double dot(const double* a, const double* b, std::size_t count) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::size_t k = 0;
    for (; k + 4 <= count; k += 4) {
        s0 = s0 + a[k] * b[k];
        s1 = s1 + a[k + 1] * b[k + 1];
        s2 = s2 + a[k + 2] * b[k + 2];
        s3 = s3 + a[k + 3] * b[k + 3];
    }
    for (; k < count; ++k) s0 = s0 + a[k] * b[k];
    return (s0 + s1) + (s2 + s3);
}

}  // namespace

Status RowBandedCholesky::factor(const SymmetricBandedWorkspace& bands) {
    n = bands.n;
    bandwidth = std::min<std::uint64_t>(bands.bandwidth, n == 0 ? 0 : n - 1);
    const std::size_t w = bandwidth + 1;
    rows.assign(n * w, 0.0);
    for (std::size_t d = 0; d <= bandwidth; ++d) {
        for (std::size_t k = 0; k + d < n; ++k) rows[(k + d) * w + bandwidth - d] = bands.bands[d * n + k];
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t first = i > bandwidth ? i - bandwidth : 0;
        double* row_i = rows.data() + i * w + bandwidth - i;  // row_i[j] is entry (i, j)
        for (std::size_t k = first; k < i; ++k) {
            const double* row_k = rows.data() + k * w + bandwidth - k;
            row_i[k] = (row_i[k] - dot(row_i + first, row_k + first, k - first)) / row_k[k];
        }
        const double d = row_i[i] - dot(row_i + first, row_i + first, i - first);
        if (d <= epsilon) return LinearSolveFailed{"matrix was not positive definite"};
        row_i[i] = std::sqrt(d);
    }
    return ok;
}

void RowBandedCholesky::substitute(std::span<const double> rhs, std::span<double> output) const {
    const std::size_t w = bandwidth + 1;
    if (output.data() != rhs.data()) std::copy(rhs.begin(), rhs.end(), output.begin());
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t first = i > bandwidth ? i - bandwidth : 0;
        const double* row_i = rows.data() + i * w + bandwidth - i;
        output[i] = (output[i] - dot(row_i + first, output.data() + first, i - first)) / row_i[i];
    }
    for (std::size_t i = n; i-- > 0;) {
        const double value = output[i] / rows[i * w + bandwidth];
        output[i] = value;
        const std::size_t first = i > bandwidth ? i - bandwidth : 0;
        const double* row_i = rows.data() + i * w + bandwidth - i;
        for (std::size_t j = first; j < i; ++j) output[j] = output[j] - row_i[j] * value;
    }
}

}  // namespace quorvel::linalg::banded
