#include "banded_lu.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/numeric.hpp"

namespace quorvel::linalg::banded {

void GeneralBandedWorkspace::reset(std::size_t order, std::size_t lower_bands, std::size_t upper_bands) {
    n = order, lower = lower_bands, upper = upper_bands;
    ab.assign(rows() * order, 0.0);
    pivots.resize(order);
}

Status GeneralBandedWorkspace::factor() {
    std::size_t reach = 0;  // the last column that row exchanges have filled in so far
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t below = std::min(lower, n - 1 - j);
        std::size_t p = j;
        for (std::size_t r = j + 1; r <= j + below; ++r) {
            if (std::fabs(at(r, j)) > std::fabs(at(p, j))) p = r;
        }
        pivots[j] = p;
        const double pivot = at(p, j);
        if (pivot == 0.0 || is_non_finite(pivot)) return singular;
        reach = std::max(reach, std::min(p + upper, n - 1));
        if (p != j) {
            for (std::size_t c = j; c <= reach; ++c) std::swap(at(p, c), at(j, c));
        }
        for (std::size_t r = j + 1; r <= j + below; ++r) at(r, j) = at(r, j) / pivot;
        for (std::size_t c = j + 1; c <= reach; ++c) {
            const double u = at(j, c);
            if (u == 0.0) continue;
            for (std::size_t r = j + 1; r <= j + below; ++r) at(r, c) = at(r, c) - at(r, j) * u;
        }
    }
    return ok;
}

void GeneralBandedWorkspace::substitute(std::span<double> b) {
    const std::size_t kv = lower + upper;
    for (std::size_t j = 0; j < n; ++j) {
        if (pivots[j] != j) std::swap(b[j], b[pivots[j]]);
        const std::size_t last = std::min(j + lower, n - 1);
        for (std::size_t r = j + 1; r <= last; ++r) b[r] = b[r] - at(r, j) * b[j];
    }
    for (std::size_t j = n; j-- > 0;) {
        b[j] = b[j] / at(j, j);
        for (std::size_t r = j > kv ? j - kv : 0; r < j; ++r) b[r] = b[r] - at(r, j) * b[j];
    }
}

}  // namespace quorvel::linalg::banded
