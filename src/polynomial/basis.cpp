#include "basis.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"

namespace quorvel::polynomial {
namespace {

// The sum of term(i) over i < n in four interleaved partial sums: the order is fixed (so are the bits) and the
// four chains run in parallel instead of waiting on each other's additions.
template <class Term>
double interleaved_sum(std::size_t n, Term term) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += term(i);
        s1 += term(i + 1);
        s2 += term(i + 2);
        s3 += term(i + 3);
    }
    for (; i < n; ++i) s0 += term(i);
    return (s0 + s1) + (s2 + s3);
}

double weighted_dot(const double* a, const double* b, std::span<const double> w) {
    return interleaved_sum(w.size(), [&](std::size_t i) { return w[i] * a[i] * b[i]; });
}

// T_0 ... T_{count-1} at each t, polynomial-major.
void fill_chebyshev(std::span<const double> t, std::size_t count, std::vector<double>& columns) {
    const std::size_t n = t.size();
    columns.assign(count * n, 1.0);
    if (count > 1) std::copy(t.begin(), t.end(), columns.begin() + static_cast<std::ptrdiff_t>(n));
    for (std::size_t k = 2; k < count; ++k) {
        double* next = columns.data() + k * n;
        const double* one = next - n;
        const double* two = one - n;
        for (std::size_t i = 0; i < n; ++i) next[i] = 2.0 * t[i] * one[i] - two[i];
    }
}

// Removes from column k its weighted components along the columns before it.
void remove_earlier(OrthogonalBasis& basis, std::size_t k, std::span<const double> w) {
    const std::size_t n = basis.samples;
    double* v = basis.columns.data() + k * n;
    for (std::size_t j = 0; j < k; ++j) basis.coefficients[j] = weighted_dot(basis.columns.data() + j * n, v, w);
    for (std::size_t j = 0; j < k; ++j) {
        const double c = basis.coefficients[j];
        const double* q = basis.columns.data() + j * n;
        for (std::size_t i = 0; i < n; ++i) v[i] -= c * q[i];
    }
}

}  // namespace

void chebyshev_columns(std::span<const double> t, std::size_t terms, OrthogonalBasis& basis) {
    basis.samples = t.size();
    basis.terms = terms;
    fill_chebyshev(t, terms, basis.columns);
}

void surface_columns(std::span<const double> x, std::span<const double> z,
                     std::span<const std::array<std::uint64_t, 2>> terms, OrthogonalBasis& basis) {
    std::uint64_t most_x = 0, most_z = 0;
    for (const auto& term : terms) most_x = std::max(most_x, term[0]), most_z = std::max(most_z, term[1]);
    std::vector<double> along_x, along_z;
    fill_chebyshev(x, most_x + 1, along_x);
    fill_chebyshev(z, most_z + 1, along_z);
    const std::size_t rows = x.size(), cols = z.size();
    basis.samples = rows * cols;
    basis.terms = terms.size();
    basis.columns.resize(basis.terms * basis.samples);
    for (std::size_t k = 0; k < terms.size(); ++k) {
        const double* tx = along_x.data() + terms[k][0] * rows;
        const double* tz = along_z.data() + terms[k][1] * cols;
        double* column = basis.columns.data() + k * basis.samples;
        for (std::size_t i = 0; i < rows; ++i) {
            for (std::size_t j = 0; j < cols; ++j) column[i * cols + j] = tx[i] * tz[j];
        }
    }
}

Status orthogonalise(std::span<const double> weights, OrthogonalBasis& basis) {
    const std::size_t n = basis.samples, terms = basis.terms;
    basis.coefficients.assign(terms, 0.0);
    for (std::size_t k = 0; k < terms; ++k) {
        double* v = basis.columns.data() + k * n;
        const double before = std::sqrt(weighted_dot(v, v, weights));
        remove_earlier(basis, k, weights);
        remove_earlier(basis, k, weights);
        const double norm = std::sqrt(weighted_dot(v, v, weights));
        // What is left of a column the used samples cannot tell from the earlier ones is rounding.
        if (!(norm > 1e-10 * before)) {
            return InvalidParameter{"poly_order", "must be below the number of used samples"};
        }
        const double scale = 1.0 / norm;
        for (std::size_t i = 0; i < n; ++i) v[i] *= scale;
    }
    return ok;
}

void project(OrthogonalBasis& basis, std::span<const double> weights, std::span<const double> v,
             std::span<double> out) {
    const std::size_t n = basis.samples, terms = basis.terms;
    for (std::size_t k = 0; k < terms; ++k) {
        const double* q = basis.columns.data() + k * n;
        // A sample of weight 0 may hold anything, even NaN: it must add nothing.
        basis.coefficients[k] = interleaved_sum(n, [&](std::size_t i) {
            return pick(weights[i] > 0.0, weights[i] * q[i] * v[i], 0.0);
        });
    }
    const double c0 = basis.coefficients[0];
    for (std::size_t i = 0; i < n; ++i) out[i] = c0 * basis.columns[i];
    for (std::size_t k = 1; k < terms; ++k) {
        const double c = basis.coefficients[k];
        const double* q = basis.columns.data() + k * n;
        for (std::size_t i = 0; i < n; ++i) out[i] += c * q[i];
    }
}

}  // namespace quorvel::polynomial
