#include "dense.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::linalg::dense {

Status solve_dense_in_place(std::span<double> matrix, std::span<double> rhs,
                            std::span<double> solution, std::span<double> pivot_row) {
    const std::size_t n = rhs.size();
    assert(matrix.size() >= n * n && solution.size() >= n && pivot_row.size() >= n);
    auto a = [&](std::size_t r, std::size_t c) -> double& { return matrix[r * n + c]; };

    for (std::size_t k = 0; k < n; ++k) {
        std::size_t p = k;
        for (std::size_t r = k + 1; r < n; ++r) {
            if (std::fabs(a(r, k)) > std::fabs(a(p, k))) p = r;
        }
        if (std::fabs(a(p, k)) <= epsilon) return LinearSolveFailed{"singular dense linear system"};
        if (p != k) {
            std::swap_ranges(&a(k, 0), &a(k, 0) + n, &a(p, 0));
            std::swap(rhs[k], rhs[p]);
        }
        std::copy_n(&a(k, 0), n, pivot_row.begin());
        for (std::size_t r = k + 1; r < n; ++r) {
            const double f = a(r, k) / pivot_row[k];
            for (std::size_t c = k; c < n; ++c) a(r, c) = a(r, c) - f * pivot_row[c];
            rhs[r] = rhs[r] - f * rhs[k];
        }
    }

    std::fill_n(solution.begin(), n, 0.0);
    for (std::size_t i = n; i-- > 0;) {
        double s = -0.0;
        for (std::size_t c = i + 1; c < n; ++c) s = s + a(i, c) * solution[c];
        solution[i] = (rhs[i] - s) / a(i, i);
    }
    return ok;
}

}  // namespace quorvel::linalg::dense
